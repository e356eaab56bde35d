#!/usr/bin/env bash
# Builds setup.exe and shows it at work under Wine: a sample distribution, sealed
# as a release ships (scripts/seal_release.py) with the sealed setup.exe in its
# root, a sample installation registered at "GA", the update itself, and a second
# run that asks before re-applying the level. Everything lives in build/demo. Where
# 32-bit code is emulated, it seals and runs the 64-bit build of the same sources (below).
#
# With a display of your own (DISPLAY set) the boxes appear there and you answer
# them; without one the demo starts its own Xvfb and answers Cancel itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
# Wine's own tools run as 64-bit programs everywhere.
wine64=/usr/lib/wine/wine64
# Where 32-bit code is emulated, each 32-bit program takes about a minute to start.
# There, as in scripts/test.sh, the demo runs the 64-bit build of the same sources
# with Wine's 64-bit loader: its copies then run the 64-bit cmd.exe and xcopy, and
# it reads the product's key in the 64-bit view. The 32-bit exe that ships is
# built all the same.
if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
  echo "This host emulates 32-bit code, so the demo runs the 64-bit build of the same sources."
  setup=$root/build/windows64/setup.exe loader=$wine64 view=64
  read_key='HKLM\Software\Kestrade\Lumeric Server\4.5'
else
  setup=$root/build/windows/setup.exe loader=wine view=32
  read_key='HKLM\Software\WOW6432Node\Kestrade\Lumeric Server\4.5'
fi
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
if [ "$view" = 64 ]; then
  cmake --preset windows64 >/dev/null
  cmake --build --preset windows64 >/dev/null
fi

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo"
export WINEPREFIX=$demo/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset QDXCOMP COPYCMD

xvfb_pid=
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  number=150
  while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do number=$((number + 1)); done
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$number"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
  attended=
else
  attended=1
fi
# Wine's xcopy asks before overwriting; nobody can answer when input is no terminal.
[ -t 0 ] || export COPYCMD=/Y

step() { printf '\n== %s\n' "$*"; }

step "Creating a Wine prefix (half a minute; a few minutes where 32-bit code is emulated)"
# Through the 64-bit loader, where /usr/bin/wineboot would start the 32-bit one
# first; only Wine's own 32-bit setup step of the prefix then runs 32-bit code.
$wine64 wineboot -i >"$demo/wineboot.log" 2>&1   # Wine's services inherit this output: never a pipe
wineserver -w
# Wine's own Marlett (the title-bar glyphs) and Tahoma (the boxes' text), from
# fonts-wine: this Wine build finds fonts in the prefix's Fonts folder, not its data folder.
cp /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
if [ -z "$attended" ]; then
  # No window manager runs on our own Xvfb: Wine draws the title bars itself, so
  # that the screenshot shows the box's caption.
  $wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
fi

step "Sample distribution and an installation at level GA"
dist=$demo/distribution
install=$WINEPREFIX/drive_c/Lumeric
mkdir -p "$dist/Common/bin" "$dist/Common/logs" "$dist/MS60" "$dist/EN" "$install/bin"
echo "server config, Mendrel2" >"$dist/Common/server.cfg"
echo "server library, Mendrel2" >"$dist/Common/bin/lumeric.dll"
echo "MS60 runtime, Mendrel2" >"$dist/MS60/runtime.lib"
echo "English messages, Mendrel2" >"$dist/EN/messages.txt"
echo "server config, GA" >"$install/server.cfg"
echo "server library, GA" >"$install/bin/lumeric.dll"
key='HKLM\Software\Kestrade\Lumeric Server\4.5'
$wine64 reg add "$key" /v InstallDir /d 'C:\Lumeric' /f /reg:$view >/dev/null 2>&1
$wine64 reg add "$key" /v "Installed NLV" /d EN /f /reg:$view >/dev/null 2>&1
$wine64 reg add "$key" /v ServiceLevel /d GA /f /reg:$view >/dev/null 2>&1

step "Sealing the distribution, as a release ships"
# The list of the payload's SHA-256 (Mendrel2.sha256) and a sealed copy of the exe
# built above, as setup.exe in the distribution's root: that copy installs only
# the bytes listed, and stops before the copies where the list beside it is
# missing or changed.
python3 scripts/seal_release.py "$dist" --in "$setup" --out "$dist/setup.exe" | sed 's/^/  /'
setup=$dist/setup.exe

show_installation() {
  (cd "$install" && find . -mindepth 1 | sort | while read -r path; do
    if [ -f "$path" ]; then printf '  %-22s %s\n' "$path" "$(cat "$path")"; else printf '  %s/\n' "$path"; fi
  done)
  $wine64 reg query "$key" /v ServiceLevel /reg:$view >"$demo/level.txt" 2>&1
  echo "  registry: $read_key"
  grep ServiceLevel "$demo/level.txt" | sed 's/^ */    /'
}
run_setup() { (cd "$dist" && QDXCOMP=MSVC "$loader" "$setup"); }

step "Before the update"
show_installation

step "Running setup.exe with QDXCOMP=MSVC"
status=0
run_setup || status=$?
echo "setup.exe ended with status $status"

step "After the update"
show_installation

step "Running setup.exe again: it asks before re-applying Mendrel2"
run_setup &
setup_pid=$!
window=
for _ in $(seq 1500); do  # some five minutes at most
  window=$(xdotool search --name "Lumeric Server 4.5 Mendrel2" 2>/dev/null | tail -n 1) && [ -n "$window" ] && break
  sleep 0.2
done
sleep 0.5
# The box with a small margin of the screen around it; the whole screen if no box came.
crop=
if [ -n "$window" ] && eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)"; then
  margin=12
  crop="$((WIDTH + 2 * margin))x$((HEIGHT + 2 * margin))+$((X - margin))+$((Y - margin))"
fi
import -window root ${crop:+-crop "$crop"} +repage "$demo/confirmation.png"
echo "Screenshot of the question: $demo/confirmation.png"
if [ -z "$attended" ] && [ -n "$window" ]; then
  echo "Nobody is at this screen: answering Cancel"
  xdotool key --window "$window" Escape 2>/dev/null
fi
status=0
wait "$setup_pid" || status=$?
echo "setup.exe ended with status $status (1: cancelled, nothing changed)"
