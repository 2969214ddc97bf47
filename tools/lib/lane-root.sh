# The Debian trees of the Wine lanes, kept under build/: build/wine8-root
# (Debian 12, Wine 8) and build/wine10-root (Debian 13, Wine 10). Each is built
# once with mmdebstrap and rebuilt when missing, left half-built, or when its
# package list changed. A tree is entered in one of two ways: as a chroot
# (Wine 10 on a host that runs 32-bit code; Debian 13's Wine needs a newer C
# library than Debian 12 has) or booted as a virtual machine (tools/lib/vm.sh)
# where the host kernel cannot run 32-bit code. Each tree holds its own kernel
# for that.
# Source it after setting $top; it touches nothing until its functions run.

LANE_MOUNTS=()

# lane_root_init LANE: names the tree of lane 8 or 10.
lane_root_init() {
  LANE=$1
  LANE_ROOT="$top/build/wine$LANE-root"
  LANE_READY="$LANE_ROOT/.traymark-lane-ready"
  LANE_LOG="$top/build/wine$LANE-root.log"
  LANE_PACKAGES="wine wine32:i386 libwine:i386 xvfb x11-utils xauth fonts-wine locales procps python3 cmake linux-image-amd64 kmod"
  case "$LANE" in
    # Wine 8 is also the lane of the import check and of the demo, pictures and
    # measuring commands (screenshots, a network for an outside display).
    8) LANE_SUITE=bookworm
       LANE_PACKAGES="$LANE_PACKAGES binutils-mingw-w64-i686 imagemagick iproute2" ;;
    10) LANE_SUITE=trixie ;;
    *) echo "no such lane: $LANE" >&2; return 1 ;;
  esac
}

# The Debian mirror this machine's own apt sources use.
host_debian_mirror() {
  local uri
  uri=$( { grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{ print $2 }'
           grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
             sed 's/\[[^]]*\]//' | awk '{ print $2 }'; } |
         grep -E '/debian/?$' | head -n 1)
  echo "${uri:-http://deb.debian.org/debian}"
}

# Anything mounted at or below the tree (ours, from a run that was killed):
# removing the tree then would reach through into the source tree.
lane_mounted() {
  awk -v root="$LANE_ROOT" 'index($5, root) == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo
}

# The marker names the packages, so a changed list builds the tree afresh.
lane_ready() {
  [ "$(cat "$LANE_READY" 2>/dev/null)" = "$LANE_PACKAGES" ]
}

lane_mount() {   # lane_mount SOURCE PATH-INSIDE
  local target="$LANE_ROOT$2"
  mkdir -p "$target" || return 1
  mount --bind "$1" "$target" || return 1
  LANE_MOUNTS+=("$target")
}

# Takes down what lane_mount put up, innermost first.
lane_unmount_all() {
  local i target try
  for ((i = ${#LANE_MOUNTS[@]} - 1; i >= 0; i--)); do
    target=${LANE_MOUNTS[i]}
    for try in 1 2 3 4 5; do
      umount "$target" 2>/dev/null && break
      sleep 1
    done
    if mountpoint -q "$target"; then
      echo "$target still busy; detaching it" >&2
      umount -l "$target"
    fi
  done
  LANE_MOUNTS=()
}

lane_mount_system() {
  lane_mount /proc /proc && lane_mount /sys /sys && lane_mount /dev /dev &&
    lane_mount /dev/pts /dev/pts && lane_mount /dev/shm /dev/shm
}

# A clean environment inside, but a GoogleTest filter given outside still applies.
lane_chroot() {
  chroot "$LANE_ROOT" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive ${GTEST_FILTER:+GTEST_FILTER="$GTEST_FILTER"} "$@"
}

# lane_root_build: makes the tree unless it is ready. Leaves nothing mounted.
lane_root_build() {
  local mirror s
  lane_ready && return 0
  if lane_mounted; then
    echo "something is still mounted under $LANE_ROOT; unmount it first" >&2
    return 1
  fi
  # The packages' own scripts run in the tree: they are amd64 programs.
  if [ "$(uname -m)" != x86_64 ]; then
    echo "the Wine $LANE lane's tree can only be built on an x86-64 machine, not $(uname -m)" >&2
    return 1
  fi
  rm -rf "$LANE_ROOT"
  mkdir -p "$top/build"
  s=$SECONDS
  mirror=$(host_debian_mirror)
  echo "building the Debian $LANE_SUITE tree of the Wine $LANE lane in $LANE_ROOT" \
    "(one to two minutes, about 1.7 GB; log in $LANE_LOG)..."
  # One apt run for the base system and the lane's packages, both
  # architectures; mmdebstrap mounts and unmounts what it needs itself.
  if ! mmdebstrap --variant=minbase --architectures=amd64,i386 --include="${LANE_PACKAGES// /,}" \
       --customize-hook='for loc in en_US ja_JP; do echo "$loc.UTF-8 UTF-8" >>"$1/etc/locale.gen"; done' \
       --customize-hook='chroot "$1" locale-gen' \
       "$LANE_SUITE" "$LANE_ROOT" "$mirror" >"$LANE_LOG" 2>&1; then
    tail -n 20 "$LANE_LOG" >&2
    echo "building the $LANE_SUITE tree failed" >&2
    rm -rf "$LANE_ROOT"
    return 1
  fi
  echo "$LANE_PACKAGES" >"$LANE_READY"
  echo "the $LANE_SUITE tree built in $((SECONDS - s)) s"
}

# lane_chroot_run COMMAND...: runs COMMAND in the tree with the system folders
# and the source tree (at its own path, so ctest's absolute paths hold) mounted,
# and unmounts them again, whatever happens.
lane_chroot_run() {
  local status
  trap 'lane_unmount_all' EXIT
  trap 'exit 130' INT TERM
  lane_mount_system && lane_mount "$top" "$top" ||
    { lane_unmount_all; echo "cannot mount into $LANE_ROOT" >&2; return 1; }
  lane_chroot "$@"
  status=$?
  lane_unmount_all
  trap - EXIT INT TERM
  return $status
}
