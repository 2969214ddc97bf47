# The Wine 10 lane of tools/test. Debian 13's Wine needs a newer C library
# than Debian 12 has, so it runs in a Debian 13 chroot kept under build/
# (built once, one to two minutes; rebuilt when missing or left half-built). The
# source tree is bind-mounted at its own path inside, so ctest's files, which
# name the build folder by absolute path, work there unchanged.
# Source it after setting $top; it touches nothing until run_wine10_lane.

WINE10_ROOT="$top/build/wine10-root"
WINE10_READY="$WINE10_ROOT/.traymark-lane-ready"
WINE10_PACKAGES="wine wine32:i386 libwine:i386 xvfb x11-utils xauth fonts-wine locales procps python3 cmake"
WINE10_MOUNTS=()

# The Debian mirror this machine's own apt sources use.
host_debian_mirror() {
  local uri
  uri=$( { grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{ print $2 }'
           grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
             sed 's/\[[^]]*\]//' | awk '{ print $2 }'; } |
         grep -E '/debian/?$' | head -n 1)
  echo "${uri:-http://deb.debian.org/debian}"
}

# Anything mounted at or below the chroot (ours, from a run that was killed):
# removing the chroot then would reach through into the source tree.
wine10_mounted() {
  mountpoint -q "$WINE10_ROOT$top" 2>/dev/null ||
    awk -v root="$WINE10_ROOT" 'index($5, root) == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo
}

# The marker names the packages, so a changed list builds the chroot afresh.
wine10_ready() {
  [ "$(cat "$WINE10_READY" 2>/dev/null)" = "$WINE10_PACKAGES" ]
}

wine10_mount() {   # wine10_mount SOURCE PATH-INSIDE
  local target="$WINE10_ROOT$2"
  mkdir -p "$target" || return 1
  mount --bind "$1" "$target" || return 1
  WINE10_MOUNTS+=("$target")
}

# Takes down what wine10_mount put up, innermost first.
wine10_unmount_all() {
  local i target try
  for ((i = ${#WINE10_MOUNTS[@]} - 1; i >= 0; i--)); do
    target=${WINE10_MOUNTS[i]}
    for try in 1 2 3 4 5; do
      umount "$target" 2>/dev/null && break
      sleep 1
    done
    if mountpoint -q "$target"; then
      echo "$target still busy; detaching it" >&2
      umount -l "$target"
    fi
  done
  WINE10_MOUNTS=()
}

wine10_mount_all() {
  wine10_mount /proc /proc && wine10_mount /sys /sys && wine10_mount /dev /dev &&
    wine10_mount /dev/pts /dev/pts && wine10_mount /dev/shm /dev/shm && wine10_mount "$top" "$top"
}

# A clean environment inside, but a GoogleTest filter given outside still applies.
wine10_chroot() {
  chroot "$WINE10_ROOT" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive ${GTEST_FILTER:+GTEST_FILTER="$GTEST_FILTER"} "$@"
}

# Debootstraps the chroot (no mounts of ours yet, debootstrap mounts its own).
wine10_bootstrap() {
  local log="$top/build/wine10-root.log" mirror
  wine10_ready && return 0
  if wine10_mounted; then
    echo "something is still mounted under $WINE10_ROOT; unmount it first" >&2
    return 1
  fi
  rm -rf "$WINE10_ROOT"
  mirror=$(host_debian_mirror)
  echo "building the Debian 13 chroot in $WINE10_ROOT (one to two minutes; log in $log)..."
  if ! debootstrap --variant=minbase --arch=amd64 trixie "$WINE10_ROOT" "$mirror" >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "debootstrap failed" >&2
    return 1
  fi
}

# Wine 10, a display server, the fonts and both test locales; then the marker.
wine10_install() {
  local log="$top/build/wine10-root.log"
  wine10_ready && return 0
  if ! wine10_chroot /bin/sh -ec "
      dpkg --add-architecture i386
      apt-get update -qq
      apt-get install -y -qq --no-install-recommends $WINE10_PACKAGES
      for loc in en_US ja_JP; do echo \"\$loc.UTF-8 UTF-8\" >>/etc/locale.gen; done
      locale-gen
      apt-get clean" >>"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "installing Wine 10 in the chroot failed" >&2
    return 1
  fi
  echo "$WINE10_PACKAGES" >"$WINE10_READY"
}

# run_wine10_lane [ctest arguments]: the same test runs as the Wine 8 lane,
# on the executables already in build/. The import check reads the program
# with the host's binutils and needs no Wine, so it runs in the Wine 8 lane only.
run_wine10_lane() {
  trap 'wine10_unmount_all' EXIT
  trap 'exit 130' INT TERM
  wine10_bootstrap || return 1
  wine10_mount_all || { echo "cannot mount into $WINE10_ROOT" >&2; return 1; }
  wine10_install || return 1
  echo "Wine in the chroot: $(wine10_chroot wine --version)"
  # Its own display and prefix, both stopped before it returns.
  wine10_chroot /bin/bash -c '
      top=$1; shift
      . "$top/tools/lib/wine-env.sh"
      . "$top/tools/lib/test-runs.sh"
      start_display_if_needed || exit 1
      trap "stop_prefix; stop_display" EXIT
      trap "exit 130" INT TERM
      run_test_runs "$top/build" "$top/build/wineprefix-test10" -E "^imports\$" "$@"' \
    wine10-lane "$top" "$@"
}
