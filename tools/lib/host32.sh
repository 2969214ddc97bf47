# Whether this machine's kernel runs 32-bit x86 programs itself, which Wine's
# 32-bit side needs. That an i386 program "runs" is not enough: a binfmt_misc
# handler (qemu-user) runs it under emulation, which is no use to Wine. So a
# tiny i386 program is started, and while it waits on its standard input the
# kernel is asked which file the process really executes: the program itself,
# or an interpreter standing in for it. Plain bash and coreutils, so that it
# can run before anything is installed.
# Source it; it runs nothing until its functions are called.

HOST32_EXIT=42

# A static i386 ELF: read(0, esp, 1), then exit(42).
host32_image() {
  # ELF header: 32-bit, little-endian, executable, i386, entry 0x08048054
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
  # one loadable segment, the whole file at 0x08048000, read and execute
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  printf '\x70\x00\x00\x00\x70\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  # mov eax, 3; xor ebx, ebx; mov ecx, esp; mov edx, 1; int 0x80
  printf '\xb8\x03\x00\x00\x00\x31\xdb\x89\xe1\xba\x01\x00\x00\x00\xcd\x80'
  # mov eax, 1; mov ebx, 42; int 0x80
  printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
}

# host32_verdict REFUSAL RUNNING PROBE EXIT: what the observations say.
# REFUSAL: why the kernel would not start it (empty if it did); RUNNING:
# what /proc/PID/exe named while it waited. Prints the reason; 0 for native.
host32_verdict() {
  if [ -n "$1" ]; then
    echo "the kernel refuses i386 programs ($1)"
  elif [ "$2" != "$3" ]; then
    echo "i386 programs run only under emulation (${2:-unknown})"
  elif [ "$4" != "$HOST32_EXIT" ]; then
    echo "an i386 program did not run to its end (exit code $4)"
  else
    echo native
    return 0
  fi
  return 1
}

# host32_check DIR [IMAGE]: starts the probe (or IMAGE) from DIR, a folder
# that allows programs to run. Prints "native" and returns 0, or the reason
# and 1.
host32_check() {
  local dir=$1 probe self running="" code refusal="" writer i
  mkdir -p "$dir" && probe=$(mktemp "$dir/host32-probe-XXXXXX") || return 1
  probe=$(readlink -f "$probe")
  if [ -n "${2:-}" ]; then cat "$2" >"$probe"; else host32_image >"$probe"; fi
  chmod 700 "$probe" && mkfifo "$probe.in" || { rm -f "$probe" "$probe.in"; return 1; }
  "$probe" <"$probe.in" >/dev/null 2>"$probe.err" &
  local pid=$!
  # Opening the pipe's other end lets the child go on to exec the probe.
  exec {writer}>"$probe.in"
  self=$(readlink "/proc/$$/exe")
  for i in $(seq 1 100); do
    running=$(readlink "/proc/$pid/exe" 2>/dev/null)
    [ "$running" = "$self" ] || break
    sleep 0.05
  done
  exec {writer}>&-
  wait "$pid"
  code=$?
  # The shell says why it could not run it: "...: Exec format error".
  [ -z "$running" ] && refusal=$(sed -n '$s/.*: //p' "$probe.err") && refusal=${refusal:-exit code $code}
  rm -f "$probe" "$probe.in" "$probe.err"
  host32_verdict "$refusal" "$running" "$probe" "$code"
}
