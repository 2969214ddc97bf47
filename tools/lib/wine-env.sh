# Shared by the commands that run in a Wine lane (tools/lib/lane.sh): a
# disposable Wine prefix inside a virtual desktop, on the current DISPLAY or on
# an Xvfb of our own.
# Source it; it defines functions and touches nothing until they are called.

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml="}
export WINEARCH=win32

XVFB_PID=""

# Starts an Xvfb when there is no display; remembers its pid for stop_display.
# XVFB_DISPLAY=N asks for :N instead of the first free number. A number that
# another run takes between our look and our start is passed over.
start_display_if_needed() {
  if [ -n "${DISPLAY:-}" ]; then
    return 0
  fi
  local n i
  for n in ${XVFB_DISPLAY:-$(seq 91 140)}; do
    # A server in another mount namespace (another lane's) shows only by its abstract socket.
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ] &&
       ! grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix 2>/dev/null; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      XVFB_PID=$!
      for i in $(seq 1 100); do
        if [ -e "/tmp/.X11-unix/X$n" ]; then
          export DISPLAY=":$n"
          return 0
        fi
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
      done
      kill "$XVFB_PID" 2>/dev/null
      wait "$XVFB_PID" 2>/dev/null
      XVFB_PID=""
    fi
  done
  echo "no X display could be started" >&2
  return 1
}

stop_display() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
  fi
}

# make_prefix DIR: a fresh 32-bit prefix whose programs run in a 1024x768 virtual
# desktop (bare Xvfb has no window manager, so focus would be unreliable) and
# whose crashes fail instead of waiting on a dialog. With _TRAYMARK_PREFIX_TEMPLATE
# naming such a prefix, made earlier by this same Wine, it is a copy of that:
# seconds instead of a wineboot's half minute (nearer a minute in a guest).
make_prefix() {
  export WINEPREFIX="$1"
  stop_prefix
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ -n "${_TRAYMARK_PREFIX_TEMPLATE:-}" ] && [ -f "$_TRAYMARK_PREFIX_TEMPLATE/system.reg" ]; then
    # The system DLLs (nine tenths of it) are only ever read, so they are
    # linked rather than copied: in a software-emulated guest a whole copy
    # takes 7-9 s, this one under 2.
    mkdir -p "$WINEPREFIX"
    tar -C "$_TRAYMARK_PREFIX_TEMPLATE" --exclude=./drive_c/windows/system32 -cf - . |
      tar -C "$WINEPREFIX" -xf - &&
      { cp -al "$_TRAYMARK_PREFIX_TEMPLATE/drive_c/windows/system32" "$WINEPREFIX/drive_c/windows/" 2>/dev/null ||
        cp -a "$_TRAYMARK_PREFIX_TEMPLATE/drive_c/windows/system32" "$WINEPREFIX/drive_c/windows/"; }
    return
  fi
  wineboot -i >/dev/null 2>&1
  # Debian's Wine does not find its own fonts (Marlett, Tahoma) where fonts-wine
  # puts them; in the prefix's Fonts folder it does.
  if [ -d /usr/share/wine/fonts ]; then
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  # The registry is on disk once the server has gone, so a copy is whole.
  wineserver -w
}

# Ends everything of our own prefix, and nothing else.
stop_prefix() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
}

. "$(dirname "${BASH_SOURCE[0]}")/scaled.sh"
