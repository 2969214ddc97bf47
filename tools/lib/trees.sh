# The Debian trees that everything but their own making runs in. Tree 8 is
# Debian 12 with Wine 8 and all that builds and checks traymark.exe (MinGW-w64,
# CMake, GoogleTest's sources, binutils, osslsigncode) or boots a lane's
# virtual machine (qemu); tree 10 is Debian 13 with Wine 10. Each holds a
# kernel for its virtual machine.
#
# A tree is made once per recipe by mmdebstrap, without root (user namespaces
# and the user's subordinate ids) unless run by root, and kept where every
# clone of this user finds it: TREE_CACHE/trees/wineN-KEY, KEY naming the
# recipe. The name appears only once the tree is whole; a lock beside it lets
# one run build it while the others wait, and keeps a tree in use from being
# pruned.
#
# tree_run N COMMAND... enters tree N with bwrap: read-only, in user and pid
# namespaces of its own, with the source tree and the cache at their own paths.
# Its mounts and processes end with COMMAND, so a killed run leaves nothing.
# Source it after setting $top; it touches nothing until its functions run.

TREE_CACHE=${TRAYMARK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/traymark}

# tree_recipe N: everything mmdebstrap is given but the mirror (TREE_SUITE,
# TREE_ARGS), and TREE_DIR, named by their digest.
tree_recipe() {
  local lane=$1 packages="wine wine32:i386 libwine:i386 xvfb x11-utils xauth fonts-wine locales procps
    python3 cmake linux-image-amd64 kmod"
  case "$lane" in
    8) TREE_SUITE=bookworm
       # The build, the import check, the release and its signature; the
       # demo's pictures; the guests and their network for an outside display.
       packages="$packages g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686 make googletest
         git openssl osslsigncode imagemagick qemu-system-x86 e2fsprogs socat iproute2" ;;
    10) TREE_SUITE=trixie ;;
    *) echo "no such lane: $lane" >&2; return 1 ;;
  esac
  packages=$(echo $packages)
  TREE_ARGS=(--variant=minbase --architectures=amd64,i386 --include="${packages// /,}"
    # Manuals and documents are never read here.
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/doc/*'
    # The guest's kernel needs only its disk from the initramfs; the rest of
    # its modules it loads from the tree. A full one takes a minute to make.
    --essential-hook='mkdir -p "$1/etc/initramfs-tools/conf.d" "$1/usr/share/initramfs-tools/modules.d" &&
      echo MODULES=list >"$1/etc/initramfs-tools/conf.d/traymark" &&
      printf "%s\n" virtio_pci virtio_blk ext4 >"$1/usr/share/initramfs-tools/modules.d/traymark"'
    --customize-hook='for loc in en_US ja_JP zh_CN zh_TW ko_KR th_TH; do echo "$loc.UTF-8 UTF-8" >>"$1/etc/locale.gen"; done'
    --customize-hook='chroot "$1" locale-gen')
  TREE_DIR="$TREE_CACHE/trees/wine$lane-$(printf '%s\n' "$TREE_SUITE" "${TREE_ARGS[@]}" | sha256sum | cut -c1-12)"
}

# tree_mirror [APT_DIR]: the Debian mirror of this machine's apt sources
# (/etc/apt): the first "deb" source that ends in /debian, from one-line .list
# files or deb822 .sources files. Says so when there is none.
tree_mirror() {
  local etc=${1:-/etc/apt} files=() f uri
  for f in "$etc/sources.list" "$etc"/sources.list.d/*.list "$etc"/sources.list.d/*.sources; do
    [ -f "$f" ] && files+=("$f")
  done
  [ ${#files[@]} -gt 0 ] && uri=$(awk '
    function flush(   i) {
      if (types ~ /(^| )deb( |$)/ && enabled != "no")
        for (i = 1; i <= n; i++) print uris[i]
      types = ""; enabled = ""; n = 0
    }
    FNR == 1 { flush(); deb822 = FILENAME ~ /\.sources$/ }
    /^[ \t]*#/ { next }
    deb822 && NF == 0 { flush(); next }
    deb822 && tolower($1) == "types:" { $1 = ""; types = $0 " " }
    deb822 && tolower($1) == "uris:" { for (i = 2; i <= NF; i++) uris[++n] = $i }
    deb822 && tolower($1) == "enabled:" { enabled = tolower($2) }
    !deb822 && $1 == "deb" { gsub(/\[[^\]]*\]/, ""); $0 = $0; print $2 }
    END { flush() }' "${files[@]}" | sed 's:/*$::' | grep -m 1 -E '^[a-z+]+://.*/debian$')
  if [ -z "$uri" ]; then
    echo "this machine's apt sources ($etc/sources.list, $etc/sources.list.d) name no Debian mirror (a \"deb\" source ending in /debian): add one" >&2
    return 1
  fi
  echo "$uri"
}

# tree_failure LOG MIRROR: one line on why mmdebstrap failed, when the mirror
# is to blame.
tree_failure() {
  local why
  why=$(grep -m 1 -oE 'Hash Sum mismatch|File has unexpected size[^.]*|Mirror sync in progress|Release file [^ ]* is not valid yet|is expired' "$1" | head -n 1)
  if [ -n "$why" ]; then
    echo "the Debian mirror $2 answered inconsistently ($why): it is probably being updated; try again later" >&2
    return
  fi
  why=$(grep -m 1 -oE "Could not resolve '[^']*'|Temporary failure resolving '[^']*'|Could not connect to [^ ]*|Connection timed out|Connection failed|Network is unreachable|Unable to connect to [^ ]*" "$1" | head -n 1)
  if [ -n "$why" ]; then
    echo "the Debian mirror $2 did not answer ($why): try again later" >&2
    return
  fi
  why=$(grep -m 1 -oE "[0-9]{3} +[A-Z][a-z]+( [A-Z][a-z]+)* \[IP" "$1" | head -n 1 | tr -s ' ')
  if [ -n "$why" ]; then
    echo "the Debian mirror $2 answered \"${why% \[IP}\" for what the tree needs: check this machine's apt sources, or try again later" >&2
    return
  fi
  tail -n 20 "$1" >&2
}

# cache_claim PATH WHAT: the lock of a tree or image about to be made, its fd
# in CACHE_LOCK; waits, saying so, while another run makes it.
cache_claim() {
  mkdir -p "${1%/*}" || return 1
  exec {CACHE_LOCK}>>"$1.lock"
  if ! flock -n -x "$CACHE_LOCK"; then
    echo "another run is making $2; waiting for it..."
    flock -x "$CACHE_LOCK"
  fi
}

# trees_build N...: makes the trees that are missing, at once: each mostly
# waits on the mirror or on dpkg, and dpkg uses one processor.
trees_build() {
  local lane pids=() status=0 p
  for lane; do
    tree_build "$lane" &
    pids+=($!)
  done
  for p in "${pids[@]}"; do
    wait "$p" || status=1
  done
  return $status
}

# cache_prune KEEP PATH...: removes the trees or images of earlier recipes
# among PATHs that no run holds.
cache_prune() {
  local keep=$1 old lock gone
  shift
  for old; do
    case "$old" in "$keep"|*.lock|*.log) continue ;; esac
    [ -e "$old" ] || continue
    exec {lock}>>"$old.lock"
    if flock -n -x "$lock"; then
      # Out of sight first: a tree by its name is always whole.
      gone="${old%/*}/.gone-${old##*/}.$$"
      mv "$old" "$gone" && chmod -R u+rwx "$gone" && rm -rf "$gone" && rm -f "$old.log" &&
        echo "removed $old, of an earlier recipe"
    fi
    exec {lock}>&-
  done
}

# tree_build N: makes tree N unless it is there. Only ever on the host.
tree_build() {
  local lane=$1 lock mirror mode s tmp status
  tree_recipe "$lane" || return 1
  [ -d "$TREE_DIR" ] && return 0
  cache_claim "$TREE_DIR" "the Wine $lane lane's tree" || return 1
  lock=$CACHE_LOCK
  if [ -d "$TREE_DIR" ]; then
    exec {lock}>&-
    return 0
  fi
  # The packages' own scripts run in the tree: they are amd64 programs.
  if [ "$(uname -m)" != x86_64 ]; then
    echo "the Wine $lane lane's tree can only be built on an x86-64 machine, not $(uname -m)" >&2
    exec {lock}>&-
    return 1
  fi
  mirror=$(tree_mirror) || { exec {lock}>&-; return 1; }
  mode=unshare
  [ "$(id -u)" = 0 ] && mode=root
  # The kernel may refuse them (a sysctl, or a process inside a chroot).
  if [ "$mode" = unshare ] && ! unshare --user --map-root-user true 2>/dev/null; then
    echo "this machine gives ordinary users no user namespaces, which the trees need without root: run as root" >&2
    exec {lock}>&-
    return 1
  fi
  # What a killed build of this recipe left.
  rm -rf "${TREE_DIR%/*}/.new-${TREE_DIR##*/}".*
  tmp=$(mktemp -d "${TREE_DIR%/*}/.new-${TREE_DIR##*/}.XXXXXX") || { exec {lock}>&-; return 1; }
  echo "building the Debian $TREE_SUITE tree of the Wine $lane lane from $mirror" \
    "(a few minutes, about 2 GB; log in $TREE_DIR.log)..."
  s=$SECONDS
  # One apt run for both architectures, streamed out as a tarball, so that
  # the files are this user's own. The namespace's root must be able to reach
  # mmdebstrap's scratch folder, which a private home or a small /tmp is not.
  (umask 022
   TMPDIR=/var/tmp mmdebstrap --mode="$mode" --aptopt='Acquire::Retries "3"' --dpkgopt=force-unsafe-io \
     "${TREE_ARGS[@]}" "$TREE_SUITE" - "$mirror" 2>"$TREE_DIR.log" |
     tar -C "$tmp" -xf - --exclude='./dev/*'
   exit $((PIPESTATUS[0] | PIPESTATUS[1])))
  status=$?
  if [ "$status" != 0 ]; then
    tree_failure "$TREE_DIR.log" "$mirror"
    echo "building the Debian $TREE_SUITE tree failed (log: $TREE_DIR.log)" >&2
    rm -rf "$tmp"
    exec {lock}>&-
    return 1
  fi
  mv "$tmp" "$TREE_DIR" || { exec {lock}>&-; return 1; }
  echo "the Debian $TREE_SUITE tree built in $((SECONDS - s)) s ($(du -sh "$TREE_DIR" | cut -f1))"
  exec {lock}>&-
  cache_prune "$TREE_DIR" "${TREE_DIR%/*}/wine$lane"-*
}

# tree_hold N: tree N, built if it must be, held (a shared lock, left open)
# until this shell ends, so that no other run prunes it meanwhile. Sets TREE_DIR.
tree_hold() {
  local lane=$1 lock
  while :; do
    tree_build "$lane" || return 1
    exec {lock}>>"$TREE_DIR.lock"
    flock -s "$lock"
    [ -d "$TREE_DIR" ] && return 0
    exec {lock}>&-
  done
}

# tree_run [--root] N COMMAND...: runs COMMAND in tree N. Only the source
# tree, the cache's images, /tmp (empty) and HOME (/tmp/home) are writable.
# --root: as root of a user namespace, to whom this user's files belong, and
# who reads them whatever their modes (a tree's /etc/gshadow- has none).
# TREE_DISPLAY=1 lets COMMAND use this shell's DISPLAY.
tree_run() {
  local as_root=0 lane entry name dir first args=() provided=() v user uid
  [ "$1" = --root ] && { as_root=1; shift; }
  lane=$1
  shift
  tree_hold "$lane" || return 1
  # The tree's own top folders, read-only; the rest of / is bwrap's own, where
  # the source tree and the cache get their paths.
  for entry in "$TREE_DIR"/*; do
    name=${entry##*/}
    case "$name" in dev|proc|sys|tmp|run|home|root|mnt|media|srv|opt|lost+found) continue ;; esac
    if [ -L "$entry" ]; then
      args+=(--symlink "$(readlink "$entry")" "/$name")
    elif [ -d "$entry" ]; then
      args+=(--ro-bind "$entry" "/$name")
    else
      continue
    fi
    provided+=("$name")
  done
  for dir in "$top" "$TREE_CACHE"; do
    first=${dir#/}
    first=${first%%/*}
    if [[ " ${provided[*]} " == *" $first "* ]]; then
      echo "$dir lies under /$first, which the lane's tree provides: keep it elsewhere (under your home, say)" >&2
      return 1
    fi
  done
  mkdir -p "$TREE_CACHE/images" || return 1
  args+=(--dev /dev --tmpfs /dev/shm --proc /proc --ro-bind /sys /sys --tmpfs /run
    --tmpfs /tmp --dir /tmp/home --tmpfs /var/tmp
    --dir /home --dir /root --dir /mnt --dir /media --dir /srv --dir /opt
    --bind "$top" "$top" --ro-bind "$TREE_CACHE" "$TREE_CACHE"
    --bind "$TREE_CACHE/images" "$TREE_CACHE/images")
  # Xvfb writes its compiled keymaps there when it runs as root.
  [ -d "$TREE_DIR/var/lib/xkb" ] && args+=(--tmpfs /var/lib/xkb)
  [ -e /dev/kvm ] && args+=(--dev-bind /dev/kvm /dev/kvm)
  for v in TRAYMARK_SIGN_CERT TRAYMARK_SIGN_KEY; do
    [ -f "${!v:-}" ] && args+=(--ro-bind "$(readlink -f "${!v}")" "$(readlink -f "${!v}")")
  done
  args+=(--clearenv)
  for v in $(compgen -e); do
    case "$v" in
      TRAYMARK_*|GTEST_*|VM_*|SOURCE_DATE_EPOCH|BALANCE_CYCLES|XVFB_DISPLAY|WINEDEBUG) args+=(--setenv "$v" "${!v}") ;;
    esac
  done
  uid=$(id -u)
  user=$(id -un 2>/dev/null || echo "user$uid")
  [ "$as_root" = 1 ] && user=root
  args+=(--setenv PATH /usr/sbin:/usr/bin:/sbin:/bin --setenv HOME /tmp/home --setenv LANG C.UTF-8
    --setenv USER "$user" --setenv LOGNAME "$user" --setenv TERM "${TERM:-dumb}"
    --setenv TRAYMARK_TREE "$lane" --setenv TRAYMARK_CACHE "$TREE_CACHE"
    # The source tree may belong to another user than the one who tests it.
    --setenv GIT_CONFIG_COUNT 1 --setenv GIT_CONFIG_KEY_0 safe.directory --setenv GIT_CONFIG_VALUE_0 '*')
  if [ "${TREE_DISPLAY:-}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
    args+=(--setenv DISPLAY "$DISPLAY")
    [ -d /tmp/.X11-unix ] && args+=(--ro-bind /tmp/.X11-unix /tmp/.X11-unix)
    v=${XAUTHORITY:-$HOME/.Xauthority}
    [ -f "$v" ] && args+=(--ro-bind "$v" /tmp/home/.Xauthority --setenv XAUTHORITY /tmp/home/.Xauthority)
  fi
  if [ "$uid" != 0 ]; then
    args+=(--unshare-user)
    [ "$as_root" = 1 ] && args+=(--uid 0 --gid 0)
  fi
  [ "$as_root" = 1 ] && args+=(--cap-add CAP_DAC_OVERRIDE)
  case "$PWD/" in "$top"/*) args+=(--chdir "$PWD") ;; *) args+=(--chdir "$top") ;; esac
  # A user the tree does not know gets a name, for the programs that ask.
  if [ "$as_root" = 0 ] && ! grep -q "^[^:]*:[^:]*:$uid:" "$TREE_DIR/etc/passwd"; then
    bwrap "${args[@]}" --unshare-pid --die-with-parent \
      --ro-bind-data 9 /etc/passwd -- "$@" \
      9< <(cat "$TREE_DIR/etc/passwd"; echo "$user:x:$uid:$(id -g)::/tmp/home:/bin/bash")
  else
    bwrap "${args[@]}" --unshare-pid --die-with-parent -- "$@"
  fi
}
