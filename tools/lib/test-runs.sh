# The test runs themselves, shared by both Wine lanes of tools/test: a fresh
# prefix, ctest over the build folder, then GoogleTest's own counts.
# Source it after wine-env.sh, with a display up.

# run_test_runs BUILD PREFIX [ctest arguments]: returns ctest's status.
run_test_runs() {
  local build=$1 prefix=$2 status
  shift 2
  echo "preparing a fresh Wine prefix..."
  make_prefix "$prefix"
  cd "$build" || return 1
  rm -rf test-results
  ctest --output-on-failure "$@"
  status=$?
  # GoogleTest's own counts, one line per run, then the total.
  python3 "$(dirname "${BASH_SOURCE[0]}")/../summarize_tests.py" test-results
  return $status
}
