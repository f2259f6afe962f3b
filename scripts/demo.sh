#!/usr/bin/env bash
# The main job: builds everything (native, then the Windows builds), then installs the
# Brennholt 1.04 update into a throwaway Wine prefix holding Brennholt 1.03 (English), on a
# virtual X display, confirms the update and reports what happened: the messages shown,
# the files updated, and the registry value before and after. Screenshots of both dialogs
# are left in build/demo/.
#
#   scripts/demo.sh [--show] [--no-build] [--win32]
#     --show      use the real $DISPLAY instead of a virtual one, to watch it
#     --no-build  use the builds already made
#     --win32     run the 32-bit installer instead, under wine32 through i386 emulation
#                 (slow: minutes per start; screenshots in build/win32/e2e32/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

show=0 build=1 win32=0
for arg in "$@"; do
  case $arg in
    --show) show=1 ;;
    --no-build) build=0 ;;
    --win32) win32=1 ;;
    *) echo "usage: $0 [--show] [--no-build] [--win32]" >&2; exit 2 ;;
  esac
done

step() { printf '\n=== %s\n' "$*"; }
jobs=$(nproc)
((jobs > 2)) && jobs=2

if ((build)); then
  # The native build first: the Windows builds run its strtab and cabtool.
  for preset in native win64 win32; do
    step "build $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
  done
fi
# DEMO_WIN64_BUILD picks another win64 build folder (default: the preset's).
installer=${DEMO_WIN64_BUILD:-$root/build/win64}/examples/brennholt/BrennholtUpdate.exe
[ -f "$installer" ] || { echo "missing $installer" >&2; exit 1; }
[ -f "$root/build/win32/examples/brennholt/BrennholtUpdate.exe" ] &&
  echo "built: build/win32/examples/brennholt/BrennholtUpdate.exe (32-bit)"
echo "built: build/win64/examples/brennholt/BrennholtUpdate.exe (64-bit)"

if ((win32)); then
  step "run the 32-bit installer"
  ((show)) && export E2E_USE_DISPLAY=1
  exec tests/e2e/win32_run.sh --demo build/win32
fi

# ---------------------------------------------------------------- a game to update
demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/screenshots"
export WINEPREFIX=$demo/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=wineserver

xvfbPid=
cleanup() {
  "$server" -k >/dev/null 2>&1 || true
  [ -n "$xvfbPid" ] && kill "$xvfbPid" 2>/dev/null || true
}
trap cleanup EXIT

if ((show)); then
  [ -n "${DISPLAY:-}" ] || { echo "--show needs \$DISPLAY" >&2; exit 1; }
else
  for n in $(seq 90 140); do
    { [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; } && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$demo/xvfb.log" 2>&1 &
    xvfbPid=$!
    sleep 1
    if kill -0 "$xvfbPid" 2>/dev/null; then export DISPLAY=:$n; break; fi
    xvfbPid=
  done
  [ -n "$xvfbPid" ] || { echo "no free X display" >&2; exit 1; }
fi

step "a throwaway Wine prefix with Brennholt 1.03 (English)"
"$wine" wineboot -i >"$demo/wineboot.log" 2>&1 || true
"$server" -p >/dev/null 2>&1 </dev/null || true
key='HKLM\SOFTWARE\Feuerstein Interactive\Brennholt'
game=$WINEPREFIX/drive_c/Games/Brennholt
mkdir -p "$game/data/maps" "$game/sound"
printf 'MZ Brennholt 1.03\n' >"$game/Brennholt.exe"
printf 'Language\tEnglish\r\n' >"$game/Language.dat"
printf 'units 1.03\n' >"$game/data/units.cfg"
printf 'old map\n' >"$game/data/maps/moorbach.map"
"$wine" reg add "$key" /v InstallDir /t REG_SZ /d 'C:\Games\Brennholt' /f >/dev/null 2>&1
"$wine" reg add "$key" /v Version /t REG_DWORD /d 0x00090067 /f >/dev/null 2>&1
versionValue() {
  "$wine" reg query "$key" /v Version 2>/dev/null | tr -d '\r' | awk '/Version/ {print $3}'
}
before=$(versionValue)
listing() { (cd "$game" && find . -type f -printf '%TY-%Tm-%Td %TH:%TM  %8s  %P\n' | sort -k4); }
listingBefore=$(listing)
echo "registry Version before: $before (language 0x$(printf '%x' $((before >> 16))), version $((before & 0xffff)))"
echo "game folder before:"
echo "$listingBefore" | sed 's/^/  /'

# ---------------------------------------------------------------- the update
step "running BrennholtUpdate.exe"
trace=$demo/installer.trace
WINEDEBUG=-all,trace+msgbox "$wine" "$installer" 2>"$trace" &
pid=$!
shot=0
deadline=$((SECONDS + 180))
while kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)); do
  for id in $(xdotool search --onlyvisible --name 'Brennholt' 2>/dev/null); do
    sleep 0.5
    shot=$((shot + 1))
    name=$(xdotool getwindowname "$id" 2>/dev/null || true)
    import -window root "$demo/screenshots/window-$shot.png" 2>/dev/null || true
    echo "window \"$name\": screenshot build/demo/screenshots/window-$shot.png; pressing Enter"
    xdotool windowfocus "$id" 2>/dev/null || true
    xdotool key --window "$id" Return 2>/dev/null || true
    xdotool key Return 2>/dev/null || true
    sleep 0.5
  done
  sleep 0.2
done
if kill -0 "$pid" 2>/dev/null; then
  echo "the installer did not end in time; stopping it"
  kill "$pid"
fi
set +e
wait "$pid"
exitCode=$?
set -e

step "what happened"
echo "exit code: $exitCode (always 1)"
echo "messages shown:"
grep -a 'MSGBOX_OnInit' "$trace" | sed -e 's/.*MSGBOX_OnInit L"/  "/' || echo "  (none)"
after=$(versionValue)
echo "registry Version before: $before, after: $after (language 0x$(printf '%x' $((after >> 16))), version $((after & 0xffff)))"
echo "game folder after:"
listing | sed 's/^/  /'
echo "files updated or added:"
diff <(echo "$listingBefore") <(listing) | sed -n 's/^> /  /p' || true
moved=$(cd "$WINEPREFIX/drive_c/Program Files" && find . -name FsLink.dll -printf '%P\n')
echo "moved under Program Files: ${moved:-(nothing)}"
echo
echo "screenshots: build/demo/screenshots/ (confirmation, progress, message)"
