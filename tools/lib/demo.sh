# Shared by tools/run and tools/pictures: the stand-in Corvex with recent
# archives in a fresh prefix, traymark.exe started in it and driven through
# build/traymark_poke.exe, and screenshots of the Wine desktop.
# Source it with top set to the source tree; it runs nothing by itself.

. "$top/tools/lib/wine-env.sh"

build="$top/build"
DEMO_AGENT=""

fail() { echo "tools/${0##*/}: $*" >&2; exit 1; }

poke() { timeout 60 wine "$build/traymark_poke.exe" "$@"; }

# A .reg string: backslashes and double quotes escaped.
reg_string() {
  local s=${1//\\/\\\\}
  printf '"%s"' "${s//\"/\\\"}"
}

# demo_prefix DIR: a fresh prefix in DIR with the stand-in Corvex installed,
# help files and all, and a list of recent archives.
demo_prefix() {
  echo "preparing a fresh Wine prefix..."
  make_prefix "$1"
  local drive_c="$WINEPREFIX/drive_c"

  # The stand-in Corvex, in a folder whose name has a blank, with its help files.
  local corvex_dir="$drive_c/Program Files/Corvex"
  mkdir -p "$corvex_dir" || fail "cannot create $corvex_dir"
  cp "$build/corvex32.exe" "$corvex_dir/" || fail "no stand-in Corvex in $build"
  echo "placeholder" >"$corvex_dir/corvex.hlp"
  echo "placeholder" >"$corvex_dir/cxwizard.hlp"

  # The agent leaves out vanished archives only inside the temporary folder, so
  # take that folder from Wine itself.
  local temp_win temp_unix
  temp_win=$(poke temp | tr -d '\r') || fail "cannot ask Wine for the temporary folder"
  temp_unix=$(timeout 60 winepath -u "$temp_win" | tr -d '\r') || fail "cannot map $temp_win"
  [ -n "$temp_unix" ] || fail "cannot map $temp_win"
  mkdir -p "$temp_unix" "$drive_c/Archives" "$drive_c/Downloads"

  # Recent archives, newest numbers first in the menu, ten at most:
  #   a vanished temporary download (9) is left out, a vanished archive in an
  #   ordinary folder (6) stays, and filemenu1 falls below the limit of ten.
  local recent=(
    ""                                            # numbering starts at 1
    'C:\Archives\setup-files.zip'
    'C:\Archives\letters.zip'
    'C:\Archives\music.rar'
    'C:\Archives\invoices.cab'
    'C:\Archives\source-code.tar.gz'
    'C:\Archives\old-backup.7z'
    'C:\Downloads\an archive whose name is far too long to fit into the tray menu.zip'
    'C:\Archives\Customer projects\Northern region\Quarterly reports 2024\summary-q1.zip'
    "${temp_win}download-3F2A.zip"
    "${temp_win}mail-attachment.zip"
    'C:\Archives\Tom & Jerry.zip'
    'C:\Archives\photos-2024.zip'
  )
  local present=(1 2 3 4 5 7 8 10 11 12)
  local n path unix
  for n in "${present[@]}"; do
    path=${recent[$n]}
    if [[ $path == "$temp_win"* ]]; then
      unix="$temp_unix${path#"$temp_win"}"
    else
      unix="$drive_c/$(printf '%s' "${path#C:\\}" | tr '\\' /)"
    fi
    mkdir -p "$(dirname "$unix")"
    echo "placeholder" >"$unix"
  done

  local regfile="$drive_c/corvex-standin.reg"
  {
    echo 'REGEDIT4'
    echo
    echo '[HKEY_CLASSES_ROOT\Corvex\Shell\Open\Command]'
    echo "@=$(reg_string '"C:\Program Files\Corvex\corvex32.exe" "%1"')"
    echo
    echo '[HKEY_LOCAL_MACHINE\Software\Velmora\Corvex\WinIni]'
    echo '"win32_version"="8.1"'
    echo
    echo '[HKEY_CURRENT_USER\Software\Velmora\Corvex\filemenu]'
    for n in $(seq 1 12); do
      echo "\"filemenu$n\"=$(reg_string "${recent[$n]}")"
    done
  } >"$regfile"
  timeout 60 wine regedit /S 'C:\corvex-standin.reg' || fail "registering the stand-in Corvex failed"
}

# Starts traymark.exe in the background (pid in DEMO_AGENT) and waits until
# its icon and window are up.
demo_start_agent() {
  echo "starting traymark.exe..."
  wine "$build/traymark.exe" &
  DEMO_AGENT=$!
  poke wait || fail "traymark.exe did not become ready"
}

# demo_wait_end WHAT: waits a bounded time for traymark.exe (DEMO_AGENT) to
# end by itself after WHAT, and fails unless it ended with exit code 0.
demo_wait_end() {
  local i
  for i in $(seq 1 100); do
    kill -0 "$DEMO_AGENT" 2>/dev/null || break
    sleep 0.2
  done
  kill -0 "$DEMO_AGENT" 2>/dev/null && fail "traymark.exe did not end after $1"
  wait "$DEMO_AGENT" || fail "traymark.exe ended with exit code $?"
  DEMO_AGENT=""
}

# Closes the running agent the way a second copy would.
demo_remove_agent() {
  timeout 60 wine "$build/traymark.exe" /remove || fail "traymark.exe /remove failed"
  demo_wait_end /remove
}

# snap FILE: the Wine desktop, once what was just opened has been drawn.
snap() {
  sleep 1
  import -window root -crop 1024x768+0+0 +repage "$1" && [ -s "$1" ] || fail "screenshot ${1##*/} failed"
}
