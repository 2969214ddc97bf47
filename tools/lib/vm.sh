# A lane's Debian tree booted as a virtual machine, for hosts whose kernel runs
# no 32-bit code (ia32 emulation off, some sandboxes, other CPUs): Wine's 32-bit
# side cannot run there, not even in WoW64 mode. The tree (tools/lib/lane-root.sh)
# becomes a disk image under build/vm/, booted by qemu-system-x86_64 with KVM
# when /dev/kvm works and software emulation (TCG) otherwise. The source tree
# reaches the guest over 9p; tools/lib/vm-init runs the job there and leaves
# its exit status beside it.
# Source it after setting $top; it touches nothing until its functions run.

. "$top/tools/lib/lane-root.sh"
. "$top/tools/lib/wine-env.sh"   # scaled: a bound stretched by the guest's time factor

VM_DIR="$top/build/vm"
# One folder per run, so that two lanes can run at once.
VM_JOB="$VM_DIR/job-$$"
VM_PID=""
VM_WANTED=0
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

# vm_decide FORCE: sets VM_WANTED=1 when FORCE is 1 (--vm), or
# TRAYMARK_VM=1, or this host cannot run 32-bit programs, and says why in one
# line. Inside a lane (chroot or guest) it decides nothing.
vm_decide() {
  local why
  VM_WANTED=0
  [ -n "${TRAYMARK_IN_LANE:-}" ] && return 0
  if [ "$1" = 1 ] || [ "${TRAYMARK_VM:-}" = 1 ]; then
    VM_WANTED=1
    echo "running Wine in a virtual machine, as asked"
    return 0
  fi
  why=$(python3 "$top/tools/lib/host32.py" "$top/build") && return 0
  VM_WANTED=1
  echo "this machine cannot run 32-bit programs ($why): running Wine in a virtual machine"
}

# KVM when this process can open /dev/kvm and it has not failed to boot a
# guest; TRAYMARK_VM_ACCEL=tcg forces software emulation.
vm_accel() {
  if [ "${TRAYMARK_VM_ACCEL:-}" != tcg ] && [ -r /dev/kvm ] && [ -w /dev/kvm ] && [ ! -e "$VM_KVM_FAILED" ]; then
    echo kvm
  else
    echo tcg
  fi
}

# vm_image_build: the lane's tree and, from it, a raw ext4 image (sparse, 6 GiB;
# about 2.6 GB in use) with a Wine prefix inside that each run copies (making
# one takes 40 to 50 s under software emulation). Remade when the tree, the
# guest's first process or the way a prefix is made changed.
vm_image_build() {
  local img="$VM_DIR/wine$LANE.img" want s
  lane_root_build || return 1
  s=$SECONDS
  want="$LANE_PACKAGES $(cat "$top/tools/lib/vm-init" "$top/tools/lib/wine-env.sh" | sha256sum | cut -c1-16)"
  [ -f "$img" ] && [ "$(cat "$img.ready" 2>/dev/null)" = "$want" ] && return 0
  if lane_mounted; then
    echo "something is still mounted under $LANE_ROOT; unmount it first" >&2
    return 1
  fi
  echo "making the disk image of the Wine $LANE lane ($img)..."
  mkdir -p "$VM_DIR" || return 1
  rm -f "$img" "$img.ready" "$img.tmp"
  install -m 755 "$top/tools/lib/vm-init" "$LANE_ROOT/traymark-init" || return 1
  if ! mke2fs -q -t ext4 -F -E root_owner=0:0 -d "$LANE_ROOT" "$img.tmp" 6G >"$VM_DIR/mke2fs.log" 2>&1; then
    cat "$VM_DIR/mke2fs.log" >&2
    rm -f "$img.tmp"
    echo "making the disk image from $LANE_ROOT failed" >&2
    return 1
  fi
  echo "disk image made in $((SECONDS - s)) s; making its Wine prefix..."
  s=$SECONDS
  # The one boot that writes to the image; the guest removes its copy of our tree.
  VM_IMAGE="$img.tmp" VM_WRITABLE=1 vm_job 900 "" bash -c \
    '. tools/lib/wine-env.sh && start_display_if_needed && make_prefix "$VM_PREFIX_TEMPLATE"; s=$?; stop_display; exit $s' ||
    { rm -f "$img.tmp"; echo "making the image's Wine prefix failed" >&2; return 1; }
  mv "$img.tmp" "$img" && echo "$want" >"$img.ready"
  echo "Wine prefix made in the image in $((SECONDS - s)) s"
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
  kernel=$(ls "$LANE_ROOT"/boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
  initrd="$LANE_ROOT/boot/initrd.img-${kernel#*/boot/vmlinuz-}"
  if [ ! -f "$kernel" ] || [ ! -f "$initrd" ]; then
    echo "no kernel or initrd in $LANE_ROOT/boot" >&2
    return 2
  fi
  # An outside display is reached through a forwarded port; nothing else is.
  if [ -s "$VM_JOB/display" ]; then
    net=(-nic "user,model=virtio-net-pci,restrict=on,guestfwd=tcp:10.0.2.100:$VM_X_PORT-cmd:$VM_X_FORWARD")
  fi
  rm -f "$VM_JOB/booted" "$VM_JOB/status" "$VM_JOB/factor"
  # The kernel's console goes to a log; the job's output to our own output.
  qemu-system-x86_64 -accel "$accel" -m 4096 -smp "$(nproc)" -nodefaults -no-reboot \
    -display none -monitor none \
    -kernel "$kernel" -initrd "$initrd" \
    -append "root=/dev/vda rw rootfstype=ext4 console=ttyS0 init=/traymark-init panic=5 quiet net.ifnames=0 $VM_KERNEL_OPTIONS traymark.job=${VM_JOB#"$top"/}${VM_WRITABLE:+ traymark.writable=1}" \
    -drive "file=${VM_IMAGE:-$VM_DIR/wine$LANE.img},format=raw,if=virtio,snapshot=$snapshot" \
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

# vm_self FORCE BOUND OUTPUTS COMMAND...: for the commands other than the
# tests, which all run in the Wine 8 lane. When a virtual machine is wanted
# (vm_decide), installs, builds (with VM_BUILD_ARGS), runs COMMAND there and
# exits with its status; otherwise returns and the caller goes on natively.
vm_self() {
  local force=$1 bound=$2 outputs=$3
  shift 3
  vm_decide "$force"
  [ "$VM_WANTED" = 1 ] || return 0
  "$top/tools/install-deps" --vm || exit 1
  "$top/tools/build" ${VM_BUILD_ARGS:-} >/dev/null || exit 1
  lane_root_init 8 || exit 1
  vm_run "$bound" "$outputs" "$@"
  exit $?
}

# vm_run BOUND OUTPUTS COMMAND...: runs COMMAND (a path relative to the source
# tree, and its arguments) in the lane's guest, at most BOUND seconds from the
# guest's start (stretched by the time factor the guest measures, if it does),
# and copies back OUTPUTS (paths relative to the source tree, blank
# separated). Returns the command's exit status, or 1 with the reason.
vm_run() {
  vm_image_build || return 1
  vm_job "$@"
}

# vm_job BOUND OUTPUTS COMMAND...: vm_run on an image already made
# (VM_IMAGE, or the lane's), writable with VM_WRITABLE=1.
vm_job() {
  local bound=$1 outputs=$2 accel status s again=1
  shift 2
  VM_LIMIT=$bound
  rm -rf "$VM_JOB"
  mkdir -p "$VM_JOB" || return 1
  echo "$top" >"$VM_JOB/top"
  printf '%s\n' $outputs >"$VM_JOB/outputs"
  accel=$(vm_accel)
  [ "${VM_SHOW_DISPLAY:-}" = 1 ] && vm_forward_display
  {
    echo "export TRAYMARK_IN_LANE=$LANE TRAYMARK_VM_ACCEL=$accel"
    [ -n "${GTEST_FILTER:-}" ] && echo "export GTEST_FILTER=$(printf '%q' "$GTEST_FILTER")"
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
