# A lane's Debian tree booted as a virtual machine, for hosts whose kernel runs
# no 32-bit code (ia32 emulation off, some sandboxes): Wine's 32-bit side cannot
# run there, not even in WoW64 mode. It runs in tree 8 (tools/lib/guest), whose
# qemu-system-x86_64 boots a disk image of the lane's tree, with KVM when
# /dev/kvm works and software emulation (TCG) otherwise. The image is kept
# beside the trees, named by its tree and by the guest's start-up and prefix
# recipe, so that every clone uses the same one. The source tree reaches the
# guest over 9p; tools/lib/vm-init runs the job there and leaves its exit
# status beside it.
# Source it after setting $top; it touches nothing until its functions run.

. "$top/tools/lib/lane.sh"      # the trees, the user's knobs
. "$top/tools/lib/scaled.sh"    # a bound stretched by the guest's time factor

VM_DIR="$top/build/vm"
# The job's folder, one per boot (vm_job), so that two lanes can run at once.
VM_JOB=""
VM_PID=""
# A guest reaches its first process in a few seconds under KVM and in 15 to 30
# under software emulation; one that is not up by these bounds never will be.
VM_BOOT_BOUND_KVM=30
VM_BOOT_BOUND_TCG=180
# Without address-space randomisation Wine's many program starts under
# software emulation run about a tenth faster (measured).
VM_KERNEL_OPTIONS=${VM_KERNEL_OPTIONS-norandmaps}
# Some sandboxes offer a /dev/kvm that opens but never boots a stock kernel:
# once seen, software emulation is used until this machine restarts.
VM_KVM_FAILED="$VM_DIR/kvm-failed-$(cat /proc/sys/kernel/random/boot_id 2>/dev/null)"

# KVM when this process can open /dev/kvm and it has not failed to boot a
# guest; TRAYMARK_VM_ACCEL=tcg forces software emulation.
vm_accel() {
  if [ "${TRAYMARK_VM_ACCEL:-}" != tcg ] && [ -r /dev/kvm ] && [ -w /dev/kvm ] && [ ! -e "$VM_KVM_FAILED" ]; then
    echo kvm
  else
    echo tcg
  fi
}

# vm_lane LANE: the lane whose tree the guest boots, which must be built.
vm_lane() {
  LANE=$1
  tree_recipe "$LANE" || return 1
  LANE_TREE=$TREE_DIR
  if [ ! -d "$LANE_TREE" ]; then
    echo "the Wine $LANE lane's tree is not built: $LANE_TREE" >&2
    return 1
  fi
  # The image holds the guest's first process and a prefix made by make_prefix:
  # the rest of the Wine set-up may change without a new image.
  VM_IMAGE_FILE="$TREE_CACHE/images/${LANE_TREE##*/}-$({ cat "$top/tools/lib/vm-init"
    sed -n '/^make_prefix()/,/^}/p' "$top/tools/lib/wine-env.sh"; } | sha256sum | cut -c1-12).img"
}

# vm_image_build: a raw ext4 image of the lane's tree (sparse, 6 GiB; about
# 2.6 GB in use), owned by root as the tree is inside the namespace, with the
# guest's first process and a Wine prefix that each run copies (making one
# takes 40 to 50 s under software emulation). One run makes it while others
# wait; images of earlier recipes that nobody uses go.
vm_image_build() {
  local img=$VM_IMAGE_FILE lock tmp s
  [ -f "$img" ] && return 0
  mkdir -p "$VM_DIR" && cache_claim "$img" "the Wine $LANE lane's disk image" || return 1
  lock=$CACHE_LOCK
  if [ -f "$img" ]; then
    exec {lock}>&-
    return 0
  fi
  rm -f "$img".new.*
  tmp=$img.new.$$
  s=$SECONDS
  echo "making the disk image of the Wine $LANE lane ($img)..."
  # The tree itself stays as it was built: the first process goes in afterwards.
  if ! { mke2fs -q -t ext4 -F -E root_owner=0:0 -d "$LANE_TREE" "$tmp" 6G &&
         printf '%s\n' "write $top/tools/lib/vm-init traymark-init" "sif traymark-init mode 0100755" |
           debugfs -w -f - "$tmp"; } >"$VM_DIR/mke2fs.log" 2>&1; then
    cat "$VM_DIR/mke2fs.log" >&2
    rm -f "$tmp"
    exec {lock}>&-
    echo "making the disk image from $LANE_TREE failed" >&2
    return 1
  fi
  echo "disk image made in $((SECONDS - s)) s; making its Wine prefix..."
  s=$SECONDS
  # The one boot that writes to the image; the guest removes its copy of our tree.
  # No time factor is known yet: on a loaded host (four guests on two cores)
  # a wineboot under software emulation took over 900 s.
  if ! VM_IMAGE="$tmp" VM_WRITABLE=1 vm_job 2700 "" bash -c \
      '. tools/lib/wine-env.sh && start_display_if_needed && make_prefix "$VM_PREFIX_TEMPLATE"; s=$?; stop_display; exit $s'; then
    rm -f "$tmp"
    exec {lock}>&-
    echo "making the image's Wine prefix failed" >&2
    return 1
  fi
  mv "$tmp" "$img" || { exec {lock}>&-; return 1; }
  echo "Wine prefix made in the image in $((SECONDS - s)) s"
  exec {lock}>&-
  cache_prune "$img" "${img%/*}/wine$LANE"-*.img
}

# Ends the guest this shell started, and nothing else.
vm_stop() {
  if [ -n "$VM_PID" ] && kill -0 "$VM_PID" 2>/dev/null; then
    kill "$VM_PID" 2>/dev/null
    wait "$VM_PID" 2>/dev/null
  fi
  VM_PID=""
}

# vm_boot ACCEL BOUND: boots the image and waits for the job's status.
# Returns 0 with the status written, 2 when the guest did not come up within
# the boot bound, 3 when it came up but the job did not end within BOUND seconds,
# 4 when the guest ended without a status, 5 when it ended before it was up.
vm_boot() {
  local accel=$1 bound=$2 kernel initrd start=$SECONDS net=() boot_bound=$VM_BOOT_BOUND_TCG limit=$2 factor=""
  local snapshot=on
  [ -n "${VM_WRITABLE:-}" ] && snapshot=off
  [ "$accel" = kvm ] && boot_bound=$VM_BOOT_BOUND_KVM
  kernel=$(ls "$LANE_TREE"/boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
  initrd="$LANE_TREE/boot/initrd.img-${kernel#*/boot/vmlinuz-}"
  if [ ! -f "$kernel" ] || [ ! -f "$initrd" ]; then
    echo "no kernel or initrd in $LANE_TREE/boot" >&2
    return 2
  fi
  # An outside display is reached through a forwarded port; nothing else is.
  if [ -s "$VM_JOB/display" ]; then
    net=(-nic "user,model=virtio-net-pci,restrict=on,guestfwd=tcp:10.0.2.100:$VM_X_PORT-cmd:$VM_X_FORWARD")
  fi
  rm -f "$VM_JOB/booted" "$VM_JOB/status" "$VM_JOB/factor"
  # The kernel's console goes to a log; the job's output to our own output.
  # The snapshot's overlay (TMPDIR) goes beside the job, on disk.
  TMPDIR=$VM_JOB qemu-system-x86_64 -accel "$accel" -m 4096 -smp "$(nproc)" -nodefaults -no-reboot \
    -display none -monitor none \
    -kernel "$kernel" -initrd "$initrd" \
    -append "root=/dev/vda rw rootfstype=ext4 console=ttyS0 init=/traymark-init panic=5 quiet net.ifnames=0 $VM_KERNEL_OPTIONS traymark.job=${VM_JOB#"$top"/}${VM_WRITABLE:+ traymark.writable=1}" \
    -drive "file=${VM_IMAGE:-$VM_IMAGE_FILE},format=raw,if=virtio,snapshot=$snapshot" \
    -virtfs "local,path=$top,mount_tag=share,security_model=none" \
    -serial "file:$VM_JOB/console.log" -chardev stdio,id=job,signal=off -serial chardev:job \
    "${net[@]}" </dev/null 2>"$VM_JOB/qemu.log" &
  VM_PID=$!
  while kill -0 "$VM_PID" 2>/dev/null && [ ! -f "$VM_JOB/status" ]; do
    if [ ! -f "$VM_JOB/booted" ] && ((SECONDS - start > boot_bound)); then
      vm_stop
      return 2
    fi
    # The guest's measured time factor stretches the bound, as its own limits.
    if [ -z "$factor" ] && [ -s "$VM_JOB/factor" ]; then
      factor=$(cat "$VM_JOB/factor")
      limit=$(TRAYMARK_TIME_FACTOR=$factor scaled "$bound")
      VM_LIMIT=$limit
    fi
    if ((SECONDS - start > limit)); then
      vm_stop
      return 3
    fi
    sleep 1
  done
  # The guest powers itself off once the status is written.
  local i
  for i in $(seq 1 30); do
    kill -0 "$VM_PID" 2>/dev/null || break
    sleep 1
  done
  vm_stop
  [ -f "$VM_JOB/status" ] && return 0
  [ -f "$VM_JOB/booted" ] || return 5
  return 4
}

# vm_console: the end of the guest's console, or from its first fault on
# when the kernel reported one (what a panic prints last is only its echo).
vm_console() {
  local first
  first=$(grep -n -m 1 -E 'BUG:|Oops|general protection|Kernel panic' "$VM_JOB/console.log" 2>/dev/null)
  if [ -n "$first" ]; then
    echo "==> $VM_JOB/console.log, from its first fault <=="
    tail -n +"${first%%:*}" "$VM_JOB/console.log" | head -n 30
    tail -n 5 "$VM_JOB/qemu.log"
  else
    tail -n 30 "$VM_JOB/console.log" "$VM_JOB/qemu.log"
  fi
}

# vm_forward_display: lets the guest's programs use this shell's DISPLAY :N as
# 10.0.2.100:N, each connection carried by a socat on this side, with the
# display's cookie made good for any host name.
vm_forward_display() {
  local n host
  n=${DISPLAY#*:}
  n=${n%%.*}
  VM_X_PORT=$((6000 + n))
  host=${DISPLAY%%:*}
  case "$host" in
    ""|unix) VM_X_FORWARD="socat - UNIX-CONNECT:/tmp/.X11-unix/X$n" ;;
    *) VM_X_FORWARD="socat - TCP:$host:$((6000 + n))" ;;
  esac
  # The same display number, so that the cookie's entry matches.
  echo "10.0.2.100:$n" >"$VM_JOB/display"
  xauth nlist "$DISPLAY" 2>/dev/null | head -n 1 | sed 's/^..../ffff/' >"$VM_JOB/xauth"
}

# vm_run BOUND OUTPUTS COMMAND...: runs COMMAND (a path in the source tree, and
# its arguments) in the lane's guest, at most BOUND seconds from the guest's
# start (stretched by the time factor the guest measures, if it does), and
# copies back OUTPUTS (paths relative to the source tree, blank separated).
# Returns the command's exit status, or 1 with the reason. The image is held
# meanwhile, so that no other run removes it.
vm_run() {
  local lock
  vm_image_build || return 1
  exec {lock}>>"$VM_IMAGE_FILE.lock"
  flock -s "$lock"
  vm_job "$@"
}

# vm_job BOUND OUTPUTS COMMAND...: vm_run on an image already made
# (VM_IMAGE, or the lane's), writable with VM_WRITABLE=1.
vm_job() {
  local bound=$1 outputs=$2 accel status s again=1 v
  shift 2
  VM_LIMIT=$bound
  mkdir -p "$VM_DIR" && VM_JOB=$(mktemp -d "$VM_DIR/job-XXXXXX") || return 1
  echo "$top" >"$VM_JOB/top"
  printf '%s\n' $outputs >"$VM_JOB/outputs"
  accel=$(vm_accel)
  [ "${_TRAYMARK_SHOW_DISPLAY:-}" = 1 ] && vm_forward_display
  {
    # The user's knobs, but the paths of this side.
    while IFS= read -r v; do
      case "${v%%=*}" in TRAYMARK_CACHE) ;; *) echo "export ${v%%=*}=$(printf '%q' "${v#*=}")" ;; esac
    done < <(lane_knobs)
    echo "export _TRAYMARK_IN_LANE=$LANE _TRAYMARK_TREE=$LANE _TRAYMARK_GUEST=1 TRAYMARK_VM_ACCEL=$accel"
    if [ -s "$VM_JOB/display" ]; then
      echo "export DISPLAY=$(cat "$VM_JOB/display")"
      # The guest sees this folder through its share.
      [ -s "$VM_JOB/xauth" ] && echo "xauth -q nmerge /share/${VM_JOB#"$top"/}/xauth"
    fi
    printf '%q ' "$@"
    echo
  } >"$VM_JOB/run"
  trap 'vm_stop' EXIT
  trap 'exit 130' INT TERM
  while :; do
    echo "booting the Wine $LANE guest ($accel)..."
    s=$SECONDS
    vm_boot "$accel" "$bound"
    status=$?
    [ -f "$VM_JOB/booted" ] && echo "guest: up $(cat "$VM_JOB/booted") s after its kernel started; $((SECONDS - s)) s in the guest in all"
    # A /dev/kvm that opens is not always one that boots a stock kernel: the
    # guest hangs, or ends before its kernel printed a line.
    if [ "$accel" = kvm ] && { [ "$status" = 2 ] || { [ "$status" = 5 ] && [ ! -s "$VM_JOB/console.log" ]; }; }; then
      echo "the guest did not come up under KVM; using software emulation from now on"
      touch "$VM_KVM_FAILED"
      accel=tcg
      sed -i "s/TRAYMARK_VM_ACCEL=kvm/TRAYMARK_VM_ACCEL=tcg/" "$VM_JOB/run"
      continue
    fi
    # Under software emulation the guest's kernel now and then goes down while
    # it starts (seen once in CI: an oops in its timer code 1.4 s in). The job
    # had not begun, so one more boot is safe; a second such end is a fault.
    if [ "$status" = 5 ] && [ "$again" = 1 ]; then
      again=0
      echo "the guest's kernel stopped while it started; booting it once more. Its console:"
      vm_console
      continue
    fi
    break
  done
  trap - EXIT INT TERM
  case "$status" in
    0) status=$(cat "$VM_JOB/status")
       rm -rf "$VM_JOB"
       return "$status" ;;
    2) echo "the guest did not boot within ${VM_BOOT_BOUND_TCG} s; its console:" >&2 ;;
    3) echo "the guest did not finish within ${VM_LIMIT} s: stopped it" >&2 ;;
    4) echo "the guest ended without an exit status; its console:" >&2 ;;
    5) echo "the guest's kernel stopped again while it started; its console:" >&2 ;;
  esac
  [ "$status" != 3 ] && vm_console >&2
  return 1
}
