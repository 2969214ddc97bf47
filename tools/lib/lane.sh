# The one way into a Wine lane, for every command that runs Wine. Lane 8 is
# Debian 12's Wine 8, lane 10 Debian 13's Wine 10, each in its Debian tree
# (tools/lib/trees.sh). Where this machine runs 32-bit programs, a command runs
# in its lane's tree here; elsewhere the same tree is booted as a virtual
# machine (tools/lib/vm.sh). The host's own Wine, if any, is never used.
# Source it after setting $top; it touches nothing until its functions run.

# Every setting a user may change, from the environment; nothing else of it
# reaches a tree or a guest. Default, then what it does:
#   TRAYMARK_VM=1             (unset)  every lane in a virtual machine, on any host (--vm does the same)
#   TRAYMARK_VM_ACCEL=tcg     (kvm where /dev/kvm works)  a guest under software emulation
#   TRAYMARK_CACHE=DIR        (${XDG_CACHE_HOME:-~/.cache}/traymark)  where trees and disk images are kept
#   TRAYMARK_E2E_WORKERS=N    (2 per processor)  end-to-end workers at once
#   TRAYMARK_SIGN_CERT=FILE, TRAYMARK_SIGN_KEY=FILE  (unset)  tools/release signs with them
#   TRAYMARK_BOOT_LANE=N      (8)  the guest that tests/vm_lane_test.py --boot boots
#   XVFB_DISPLAY=N            (the first free of :91-:140)  the number of an Xvfb we start
#   VM_KERNEL_OPTIONS=TEXT    (norandmaps)  more options for a guest's kernel
#   BALANCE_CYCLES=N          (100)  rounds of tools/balance
#   GTEST_*                   (unset)  GoogleTest's own, e.g. GTEST_FILTER
#   WINEDEBUG=CHANNELS        (-all)  Wine's debug output
#   SOURCE_DATE_EPOCH=N       (the last commit's time)  the build's time stamp
# Hand-offs between the bench's own steps are named _TRAYMARK_* and set by
# the step that hands over; they are never taken from the user's environment.
LANE_KNOBS=(TRAYMARK_VM TRAYMARK_VM_ACCEL TRAYMARK_CACHE TRAYMARK_E2E_WORKERS TRAYMARK_SIGN_CERT
  TRAYMARK_SIGN_KEY TRAYMARK_BOOT_LANE XVFB_DISPLAY VM_KERNEL_OPTIONS BALANCE_CYCLES WINEDEBUG SOURCE_DATE_EPOCH)
# On the host, whatever the environment says of them is dropped.
if [ -z "${_TRAYMARK_TREE:-}" ]; then
  for v in $(compgen -e _TRAYMARK_); do unset "$v"; done
  unset v
fi
# lane_knobs: the knobs set here, NAME=VALUE a line, GTEST_* included.
lane_knobs() {
  local v
  for v in "${LANE_KNOBS[@]}" $(compgen -e GTEST_); do
    [ -n "${!v+set}" ] && printf '%s=%s\n' "$v" "${!v}"
  done
}

. "$top/tools/lib/trees.sh"
. "$top/tools/lib/host32.sh"

# lane_here: whether lanes run in their trees here (0) or in guests (1),
# said once in a line when it is guests.
lane_here() {
  local why
  if [ "${TRAYMARK_VM:-}" = 1 ]; then
    [ -z "${LANE_SAID:-}" ] && echo "running Wine in a virtual machine, as asked"
    LANE_SAID=1
    return 1
  fi
  why=$(host32_check "$top/build") && return 0
  [ -z "${LANE_SAID:-}" ] && echo "this machine cannot run 32-bit programs ($why): running Wine in a virtual machine"
  LANE_SAID=1
  return 1
}

# lane_run LANE BOUND OUTPUTS COMMAND...: runs COMMAND (an absolute path, or
# one relative to the source tree) in the lane. In a guest, at most BOUND
# seconds, stretched by the time factor the guest measures, and OUTPUTS
# (paths in the source tree, blank separated) are copied back; here they are
# written in place. Returns COMMAND's status.
lane_run() {
  local lane=$1 bound=$2 outputs=$3
  shift 3
  if lane_here; then
    tree_run "$lane" env _TRAYMARK_IN_LANE="$lane" "$@"
  else
    # The guest's disk is made from tree LANE; qemu and the making are tree 8's.
    tree_hold "$lane" && tree_run --root 8 "$top/tools/lib/guest" "$lane" "$bound" "$outputs" "$@"
  fi
}

# lane_prepare LANE [BUILD ARGUMENTS]: on the host, once per command: what the
# host needs (tools/install-deps), tree 8 and the lane's tree, and the build.
lane_prepare() {
  local lane=$1
  shift
  "$top/tools/install-deps" && trees_build $(printf '%s\n' 8 "$lane" | sort -u) && lane_build "$@"
}

# lane_build [CONFIGURE ARGUMENTS]: configures and builds into build/ in tree
# 8, one run at a time per clone (two lanes may start at once).
lane_build() {
  local lock status
  mkdir -p "$top/build" || return 1
  exec {lock}>>"$top/build/.build.lock"
  flock -x "$lock"
  tree_run 8 sh -c 'top=$1; shift
    cmake -S "$top" -B "$top/build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" "$@" >/dev/null &&
      cmake --build "$top/build" -j"$(nproc)"' lane_build "$top" "$@"
  status=$?
  exec {lock}>&-
  return $status
}

# lane_self LANE BOUND OUTPUTS [--vm] ARGUMENTS...: for a command that runs
# whole in lane LANE. In the lane it returns and the command goes on; on the
# host it prepares (with LANE_BUILD as build arguments), runs the command with
# ARGUMENTS (--vm taken out) in the lane and exits with its status.
lane_self() {
  local lane=$1 bound=$2 outputs=$3 command
  shift 3
  [ "${_TRAYMARK_IN_LANE:-}" = "$lane" ] && return 0
  command="$top/tools/${0##*/}"
  [ "${1:-}" = --vm ] && { export TRAYMARK_VM=1; shift; }
  lane_prepare "$lane" ${LANE_BUILD:-} || exit 1
  lane_run "$lane" "$bound" "$outputs" "$command" "$@"
  exit $?
}

# tree_self ARGUMENTS...: for a command that needs tree 8's tools but no Wine
# (the release, its checks): on the host it installs what the host needs and
# runs the command in tree 8, here on any x86-64 host, and exits.
tree_self() {
  [ "${_TRAYMARK_TREE:-}" = 8 ] && return 0
  if [ -n "${_TRAYMARK_TREE:-}" ]; then
    echo "tools/${0##*/} runs in the Wine 8 lane's tree, not in tree $_TRAYMARK_TREE" >&2
    exit 1
  fi
  "$top/tools/install-deps" || exit 1
  tree_run 8 "$top/tools/${0##*/}" "$@"
  exit $?
}
