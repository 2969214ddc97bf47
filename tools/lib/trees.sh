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
declare -gA TREE_KEYS=()
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
  # Worked out once per command; trees_build does so before it forks.
  [ -n "${TREE_KEYS[$lane]:-}" ] ||
    TREE_KEYS[$lane]=$(printf '%s\n' "$TREE_SUITE" "${TREE_ARGS[@]}" | sha256sum | cut -c1-12)
  TREE_DIR="$TREE_CACHE/trees/wine$lane-${TREE_KEYS[$lane]}"
}

# tree_sources [APT_DIR]: the "deb" sources apt would use, in apt's order
# (sources.list, then sources.list.d's .list and .sources files by name), one
# line for each URI and suite: URI SUITE COMPONENTS... Disabled stanzas
# (Enabled: no) and other types are left out.
tree_sources() {
  local etc=${1:-/etc/apt} files=() f
  [ -f "$etc/sources.list" ] && files+=("$etc/sources.list")
  # apt skips names with other characters, and sorts the rest bytewise.
  while IFS= read -r f; do
    files+=("$etc/sources.list.d/$f")
  done < <(ls -1 "$etc/sources.list.d" 2>/dev/null | LC_ALL=C sort | grep -E '^[A-Za-z0-9_.-]+\.(list|sources)$')
  [ ${#files[@]} -gt 0 ] || return 0
  awk '
    function flush(   i, j, ns, s) {
      if (types ~ / deb / && enabled != "no") {
        ns = split(suites, s, " ")
        for (i = 1; i <= n; i++) for (j = 1; j <= ns; j++) print uris[i], s[j], comps
      }
      types = ""; enabled = ""; suites = ""; comps = ""; n = 0; field = ""
    }
    function value(   v) { v = $0; sub(/^[^:]*:[ \t]*/, "", v); return v }
    FNR == 1 { flush(); deb822 = FILENAME ~ /\.sources$/ }
    /^[ \t]*#/ { next }
    deb822 && NF == 0 { flush(); next }
    # A folded line continues the field above it.
    deb822 && /^[ \t]/ { if (field == "uris:") for (i = 1; i <= NF; i++) uris[++n] = $i
                         else if (field == "suites:") suites = suites " " $0
                         else if (field == "components:") comps = comps " " $0
                         else if (field == "types:") types = types $0 " "
                         next }
    deb822 { field = tolower($1) }
    deb822 && field == "types:" { types = " " value() " " }
    deb822 && field == "uris:" { for (i = 2; i <= NF; i++) uris[++n] = $i }
    deb822 && field == "suites:" { suites = value() }
    deb822 && field == "components:" { comps = value() }
    deb822 && field == "enabled:" { enabled = tolower($2) }
    !deb822 && $1 == "deb" {
      sub(/#.*/, ""); gsub(/\[[^]]*\]/, ""); $0 = $0
      c = ""; for (i = 4; i <= NF; i++) c = c " " $i
      print $2, $3, c
    }
    END { flush() }' "${files[@]}" | awk 'NF >= 2 { $1 = $1; print }'
}

# tree_mirror_list FILE: the first URI of an apt mirror list that mmdebstrap
# can use (http, https or file).
tree_mirror_list() {
  awk '!/^[ \t]*#/ && $1 ~ /^(https?|file):/ { print $1; exit }' "$1" 2>/dev/null
}

# tree_mirror [APT_DIR]: the Debian mirror of this machine's apt sources
# (/etc/apt), the first in apt's order that serves Debian's archive: a "deb"
# source of a Debian release (or its updates) with "main". A mirror+file: list
# gives its first usable URI. Says in one line what was found when none is.
tree_mirror() {
  local etc=${1:-/etc/apt} uri suite comps release found=() list
  local releases=" buster bullseye bookworm trixie forky duke sid oldoldstable oldstable stable testing unstable "
  # A release newer than this list is the host's own.
  release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  [ -n "$release" ] && releases="$releases$release "
  while read -r uri suite comps; do
    found+=("$uri $suite${comps:+ $comps}")
    [[ "$releases" == *" ${suite%-updates} "* ]] && [[ " $comps " == *" main "* ]] || continue
    case "$uri" in
      mirror+file:*|mirror:*)
        list=${uri#mirror+file:}
        list=${list#mirror:}
        # mirror://HOST/... is a list on a server: not read here.
        case "$list" in ///*) list=${list#//} ;; //*) continue ;; esac
        uri=$(tree_mirror_list "$list")
        [ -n "$uri" ] || continue ;;
      http://*|https://*|file:/*) ;;
      *) continue ;;
    esac
    # Debian's security archive answers for a release's name too, with only its fixes.
    [[ "${uri%/}" == *-security ]] && continue
    echo "${uri%/}"
    return 0
  done < <(tree_sources "$etc")
  list=$(printf '%s; ' "${found[@]}")
  list=${list%; }
  echo "this machine's apt sources ($etc/sources.list, $etc/sources.list.d) name no Debian mirror" \
    "(a \"deb\" source of a Debian release or its updates, with main) to build the trees from;" \
    "found: ${list:-nothing}" >&2
  return 1
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
  tree_places_check || return 1
  for lane; do
    tree_recipe "$lane" || return 1
  done
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

# tree_places_check: refuses, before any tree is made, a source tree or cache
# that would hide what the trees need: a system folder itself (/usr, /var/lib,
# ...) or a place under /dev, /proc or /sys. Anywhere else, under /var, /usr or
# /etc included, works (tree_mounts).
tree_places_check() {
  local dir
  for dir in "$top" "$TREE_CACHE"; do
    dir=$(realpath -m "$dir")
    case "$dir" in
      /|/bin|/boot|/etc|/lib|/lib32|/lib64|/libx32|/sbin|/usr|/usr/bin|/usr/include|/usr/lib|/usr/lib32|/usr/lib64|\
      /usr/libexec|/usr/libx32|/usr/sbin|/usr/share|/usr/src|/var|/var/lib|/var/cache|/var/log|/dev|/dev/*|/proc|/proc/*|/sys|/sys/*)
        echo "$dir cannot hold the source tree or the cache: the lanes' trees need that folder themselves; keep them elsewhere (under your home, say)" >&2
        return 1 ;;
    esac
  done
}

# tree_mounts REL PATH...: bwrap arguments (into args) that show the tree's
# folder REL (/ first) read-only, each entry bound on its own, except that an
# entry on the way to one of the host's PATHs is a folder of bwrap's own, with
# the tree's entries below it bound in the same way, so that each PATH can be
# bound at its own place and hides nothing of the tree.
tree_mounts() {
  local rel=$1 entry name path on_way
  shift
  for entry in "$TREE_DIR$rel"/*; do
    name=${entry##*/}
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    # bwrap's own, or the host's: never the tree's.
    [ -z "$rel" ] && case "$name" in dev|proc|sys|tmp|run|home|root|mnt|media|srv|opt|lost+found) continue ;; esac
    on_way=""
    for path; do
      case "$path/" in "$rel/$name"/*) on_way=$path ;; esac
    done
    if [ -n "$on_way" ]; then
      # The host's path replaces the entry itself; a folder above it is opened up.
      [ "$on_way" != "$rel/$name" ] && [ -d "$entry" ] && [ ! -L "$entry" ] &&
        args+=(--dir "$rel/$name") && tree_mounts "$rel/$name" "$@"
      continue
    fi
    if [ -L "$entry" ]; then
      args+=(--symlink "$(readlink "$entry")" "$rel/$name")
    elif [ -n "$rel" ] || [ -d "$entry" ]; then
      args+=(--ro-bind "$entry" "$rel/$name")
    fi
  done
}

# tree_build N: makes tree N unless it is there. Only ever on the host.
tree_build() {
  local lane=$1 lock mirror mode s tmp status
  tree_places_check || return 1
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
  # When writing its tarball fails, mmdebstrap sends SIGHUP to its whole
  # process group, which would be this command's too ("Hangup"): it gets a
  # session of its own. GNU tar stops reading at the archive's end marker,
  # before the last padding is written, which fails that write now and then:
  # the rest is read away. Its messages in English, for tree_failure.
  (umask 022
   TMPDIR=/var/tmp LC_ALL=C setsid -w mmdebstrap --mode="$mode" --aptopt='Acquire::Retries "3"' \
     --dpkgopt=force-unsafe-io "${TREE_ARGS[@]}" "$TREE_SUITE" - "$mirror" 2>"$TREE_DIR.log" </dev/null |
     { tar -C "$tmp" -xf - --exclude='./dev/*'; s=$?; cat >/dev/null; exit $s; }
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
  local as_root=0 lane args=() reads=() v user uid
  [ "$1" = --root ] && { as_root=1; shift; }
  lane=$1
  shift
  tree_hold "$lane" || return 1
  # The host's paths seen in the tree, each at its own path: the source tree,
  # the cache, the signing files and what TREE_READ names (read-only).
  for v in TRAYMARK_SIGN_CERT TRAYMARK_SIGN_KEY; do
    [ -f "${!v:-}" ] && reads+=("$(readlink -f "${!v}")")
  done
  for v in ${TREE_READ[@]+"${TREE_READ[@]}"}; do
    reads+=("$(readlink -f "$v")")
  done
  mkdir -p "$TREE_CACHE/images" || return 1
  # The rest of / is bwrap's own.
  tree_mounts "" "$top" "$TREE_CACHE" ${reads[@]+"${reads[@]}"}
  args+=(--dev /dev --tmpfs /dev/shm --proc /proc --ro-bind /sys /sys --tmpfs /run
    --tmpfs /tmp --dir /tmp/home --tmpfs /var/tmp
    --dir /home --dir /root --dir /mnt --dir /media --dir /srv --dir /opt
    --bind "$top" "$top" --ro-bind "$TREE_CACHE" "$TREE_CACHE"
    --bind "$TREE_CACHE/images" "$TREE_CACHE/images")
  for v in ${reads[@]+"${reads[@]}"}; do
    args+=(--ro-bind "$v" "$v")
  done
  # Xvfb writes its compiled keymaps there when it runs as root.
  [ -d "$TREE_DIR/var/lib/xkb" ] && args+=(--tmpfs /var/lib/xkb)
  [ -e /dev/kvm ] && args+=(--dev-bind /dev/kvm /dev/kvm)
  # The user's knobs (tools/lib/lane.sh) and this run's own hand-offs only.
  args+=(--clearenv)
  while IFS= read -r v; do
    args+=(--setenv "${v%%=*}" "${v#*=}")
  done < <(lane_knobs)
  [ -n "${_TRAYMARK_SHOW_DISPLAY:-}" ] && args+=(--setenv _TRAYMARK_SHOW_DISPLAY 1)
  uid=$(id -u)
  user=$(id -un 2>/dev/null || echo "user$uid")
  [ "$as_root" = 1 ] && user=root
  args+=(--setenv PATH /usr/sbin:/usr/bin:/sbin:/bin --setenv HOME /tmp/home --setenv LANG C.UTF-8
    --setenv USER "$user" --setenv LOGNAME "$user" --setenv TERM "${TERM:-dumb}"
    --setenv _TRAYMARK_TREE "$lane" --setenv TRAYMARK_CACHE "$TREE_CACHE"
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
