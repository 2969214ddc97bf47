# The one way into a Wine lane, for every command that runs Wine. Lane 8 is
# Debian 12's Wine 8, lane 10 Debian 13's Wine 10, each in its Debian tree
# (tools/lib/trees.sh). Where this machine runs 32-bit programs, a command runs
# in its lane's tree here; elsewhere the same tree is booted as a virtual
# machine (tools/lib/vm.sh). The host's own Wine, if any, is never used.
#
# Knobs, from the environment:
#   TRAYMARK_VM=1          a virtual machine on any host (--vm does the same)
#   TRAYMARK_VM_ACCEL=tcg  software emulation even where /dev/kvm works
#   TRAYMARK_CACHE=DIR     where the trees and disk images are kept
#                          (default ${XDG_CACHE_HOME:-~/.cache}/traymark)
# Source it after setting $top; it touches nothing until its functions run.

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
    tree_run "$lane" env TRAYMARK_IN_LANE="$lane" "$@"
  else
    # The guest's disk is made from tree LANE; qemu and the making are tree 8's.
    tree_hold "$lane" && tree_run --root 8 "$top/tools/lib/guest" "$lane" "$bound" "$outputs" "$@"
  fi
}

# lane_prepare LANE [BUILD ARGUMENTS]: on the host, once per command: what the
# host needs (tools/install-deps), tree 8 and the lane's tree, and the build in
# tree 8 (tools/build).
lane_prepare() {
  local lane=$1
  shift
  "$top/tools/install-deps" && trees_build $(printf '%s\n' 8 "$lane" | sort -u) && "$top/tools/build" "$@"
}

# lane_self LANE BOUND OUTPUTS [--vm] ARGUMENTS...: for a command that runs
# whole in lane LANE. In the lane it returns and the command goes on; on the
# host it prepares (with LANE_BUILD as build arguments), runs the command with
# ARGUMENTS (--vm taken out) in the lane and exits with its status.
lane_self() {
  local lane=$1 bound=$2 outputs=$3 command
  shift 3
  [ "${TRAYMARK_IN_LANE:-}" = "$lane" ] && return 0
  command="$top/tools/${0##*/}"
  [ "${1:-}" = --vm ] && { export TRAYMARK_VM=1; shift; }
  lane_prepare "$lane" ${LANE_BUILD:-} || exit 1
  lane_run "$lane" "$bound" "$outputs" "$command" "$@"
  exit $?
}

# tree_self ARGUMENTS...: for a command that needs tree 8's tools but no Wine
# (the build, the release): on the host it installs what the host needs and
# runs the command in tree 8, here on any x86-64 host, and exits.
tree_self() {
  [ "${TRAYMARK_TREE:-}" = 8 ] && return 0
  if [ -n "${TRAYMARK_TREE:-}" ]; then
    echo "tools/${0##*/} runs in the Wine 8 lane's tree, not in tree $TRAYMARK_TREE" >&2
    exit 1
  fi
  "$top/tools/install-deps" || exit 1
  tree_run 8 "$top/tools/${0##*/}" "$@"
  exit $?
}
