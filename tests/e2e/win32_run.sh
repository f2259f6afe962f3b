#!/usr/bin/env bash
# The 32-bit build run for real: its Windows unit-test programs and BrennholtUpdate.exe,
# under wine32 through i386 user emulation (scripts/setup.sh registers qemu-i386), in one
# 32-bit prefix inside the build tree, on a virtual X display.
#
#   win32_run.sh [--demo] [--keep] BUILD_DIR
#     BUILD_DIR  a win32 build (cmake --preset win32), BrennholtUpdate.exe and tests/win built
#     --demo     only the English 1.03 -> 1.04 update (no unit tests, no refusal)
#     --keep     keep the prefix's wineserver running at the end
#   W32_UNIT_TESTS="text installer assets"  the tests/win programs to run (default: text installer;
#                                           assets shows nothing the 64-bit run does not)
#   E2E_USE_DISPLAY=1                        use $DISPLAY instead of an own Xvfb
#
# Every start of a 32-bit Wine process costs about a minute under emulation, so the run
# keeps them few: the registry is set up by editing the prefix's system.reg while its
# wineserver (the native 64-bit one) is stopped, and read back the same way; the wineserver
# stays up in between, so the session's system processes start once. The refusal runs
# straight after the update: the version it finds is the one the update wrote.
set -u

demo=0 keep=0 build=
while (($#)); do
  case $1 in
    --demo) demo=1; shift ;;
    --keep) keep=1; shift ;;
    -*) echo "usage: $0 [--demo] [--keep] BUILD_DIR" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
[ -n "$build" ] && [ -d "$build" ] || { echo "usage: $0 [--demo] [--keep] BUILD_DIR" >&2; exit 2; }
build=$(cd "$build" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
installer=$build/examples/brennholt/BrennholtUpdate.exe
[ -f "$installer" ] || { echo "missing $installer" >&2; exit 2; }

work=$build/e2e32
mkdir -p "$work"
export WINEPREFIX=$work/wineprefix
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
server=/usr/lib/wine/wineserver64  # also what a 32-bit loader starts through the wrapper
wine=wine  # the wrapper picks the 32-bit loader, which runs under qemu-i386
deadlineSeconds=${W32_DEADLINE:-1200}

keyPath='Software\\Feuerstein Interactive\\Brennholt'   # as system.reg writes it
gameDos='C:\\Games\\Brennholt'
game=$WINEPREFIX/drive_c/Games/Brennholt
programFiles=$WINEPREFIX/drive_c/'Program Files'
shots=$work/screenshots
mkdir -p "$shots"

# ---------------------------------------------------------------- timing
times=()
stepStart=0
begin() { stepStart=$SECONDS; echo "== $1"; }
finish() {  # finish NAME: records the wall time of the step begun last
  local t=$((SECONDS - stepStart))
  times+=("$(printf '%-28s %5d s' "$1" "$t")")
  echo "   ($1: $t s)"
}

# ---------------------------------------------------------------- display and server
xvfbPid= serverUp=0
cleanup() {
  if ((serverUp && !keep)); then "$server" -k >/dev/null 2>&1; fi
  [ -n "$xvfbPid" ] && kill "$xvfbPid" 2>/dev/null
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/display.sh"

stopServer() { "$server" -k >/dev/null 2>&1; "$server" -w >/dev/null 2>&1; serverUp=0; }
startServer() { "$server" -p >/dev/null 2>&1 </dev/null; serverUp=1; }

# ---------------------------------------------------------------- registry, in system.reg
# The wineserver saves the registry when it stops and loads it when it starts: with the
# server stopped, the key can be replaced in the file itself.
writeKey() {  # writeKey VERSION_DWORD_HEX: the installation key, alone in its section
  local reg=$WINEPREFIX/system.reg
  head="[$keyPath]" awk '
    index($0, ENVIRON["head"]) == 1 { skip = 1; next }
    skip && /^\[/ { skip = 0 }
    !skip' "$reg" >"$reg.new" && mv "$reg.new" "$reg"
  printf '\n[%s] %s\n"InstallDir"="%s"\n"Version"=dword:%s\n' \
    "$keyPath" "$(date +%s)" "$gameDos" "$1" >>"$reg"
}

versionValue() {  # the saved Version value, as 0x...; stop the server first
  head="[$keyPath]" awk '
    index($0, ENVIRON["head"]) == 1 { inKey = 1; next }
    inKey && /^\[/ { inKey = 0 }
    inKey && /^"Version"=dword:/ { sub(/^"Version"=dword:/, ""); print "0x" $0 }' \
    "$WINEPREFIX/system.reg" | tr -d '\r'
}

# ---------------------------------------------------------------- game folder
resetGame() {  # an English Brennholt 1.03 at C:\Games\Brennholt, nothing of the update
  rm -rf "$WINEPREFIX/drive_c/Games" "$programFiles/Common Files/FsLink.dll" \
         "$programFiles/Feuerstein Interactive"
  mkdir -p "$game/data"
  printf 'MZ game\n' >"$game/Brennholt.exe"
  printf 'units v103\n' >"$game/data/units.cfg"
  chmod a-w "$game/data/units.cfg"  # read-only: the update must replace it all the same
  printf 'old readme\r\n' >"$game/Readme104.txt"
}

snapshot() {  # the game folder and the moved file, by name, size, time, mode and contents
  (cd "$WINEPREFIX/drive_c" && find Games -type d | sort &&
   find Games 'Program Files/Common Files/FsLink.dll' -type f -exec stat -c '%n %s %Y %A' {} + 2>/dev/null | sort &&
   find Games -type f -exec md5sum {} + | sort)
}

# ---------------------------------------------------------------- running the installer
# runInstaller NAME [ARGS...]: runs BrennholtUpdate.exe, answering each of its windows
# with Return. Sets exitCode and messages (the texts of the message boxes, one a line).
runInstaller() {
  local name=$1
  shift
  local trace=$work/$name.trace
  WINEDEBUG=-all,trace+msgbox "$wine" "$installer" "$@" 2>"$trace" &
  local pid=$! shot=0 windows id deadline=$((SECONDS + deadlineSeconds))
  while kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)); do
    windows=$(xdotool search --onlyvisible --name 'Brennholt' 2>/dev/null)
    for id in $windows; do
      shot=$((shot + 1))
      sleep 1
      import -window root "$shots/$name-$shot.png" 2>/dev/null
      xdotool windowfocus "$id" 2>/dev/null
      xdotool key --window "$id" Return 2>/dev/null; xdotool key Return 2>/dev/null
      sleep 2
    done
    sleep 1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "  installer did not end within $deadlineSeconds s; killing it"
    kill "$pid"
  fi
  wait "$pid"
  exitCode=$?
  messages=$(grep -a 'MSGBOX_OnInit' "$trace" | sed -e 's/.*MSGBOX_OnInit L"//' -e 's/"$//')
  printf '   message: %s\n' "$messages"
}

# ---------------------------------------------------------------- checks
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "  ok: $what"; else echo "  FAILED: $what"; failures=$((failures + 1)); fi
}
contains() { [[ $1 == *"$2"* ]]; }
exitIsOne() { [ "$exitCode" = 1 ]; }
absent() { [ ! -e "$1" ]; }
sameFile() { [ -f "$1" ] && cmp -s "$1" "$2"; }
timeFrom() {  # timeFrom FILE SOURCE: the archive keeps local time in 2-second steps
  local want
  want=$(($(stat -c %Y "$2") / 2 * 2))
  [ -f "$1" ] && [ "$(stat -c %Y "$1")" = "$want" ] && [ "$(stat -c %X "$1")" = "$want" ]
}
noLeftovers() { [ -z "$(find "$game" -name '*.~new' -o -name '*.~old' 2>/dev/null)" ]; }

# What the English update installs: installed name (below the game folder) and source.
examples=$source/examples/brennholt
brennholt=$build/examples/brennholt
dllOf() { ls "$brennholt/$1" 2>/dev/null || find "$build" -name "$1" -path '*brennholt*' | head -1; }
installed=(
  "bhphys.dll|$(dllOf bhphys.dll)"
  "data/units.cfg|$examples/payload/common/data/units.cfg"
  "data/maps/moorbach.map|$examples/payload/common/data/maps/moorbach.map"
  "data/maps/winter4.map|$examples/payload/common/data/maps/winter4.map"
  "Readme104.txt|$brennholt/editions/ENG/Readme104.txt"
  "sound/speech.bnk|$examples/payload/eng/sound/speech.bnk"
)
movedSource=$(dllOf FsLink.dll)
moved=$programFiles/'Common Files/FsLink.dll'

scenarioHappy() {
  begin "happy path: English 1.03 -> 1.04"
  runInstaller happy_english 1
  local entry name src
  # Times first: reading a file moves its access time.
  for entry in "${installed[@]}"; do
    name=${entry%%|*} src=${entry#*|}
    check "$name: time from the archive" timeFrom "$game/$name" "$src"
  done
  check "FsLink.dll: time kept by the move" timeFrom "$moved" "$movedSource"
  for entry in "${installed[@]}"; do
    name=${entry%%|*} src=${entry#*|}
    check "$name: extracted, prefix stripped, contents equal" sameFile "$game/$name" "$src"
  done
  check "read-only units.cfg replaced, now writable" test "$(stat -c %A "$game/data/units.cfg" | cut -c3)" = w
  check "move step: FsLink.dll in Common Files" sameFile "$moved" "$movedSource"
  check "move step: source removed" absent "$game/FsLink.dll"
  check "no prefix folders" test ! -e "$game/common" -a ! -e "$game/eng"
  check "success message 4007 with %1" contains "$messages" "Brennholt has been updated to version 1.04. Have fun!"
  check "exactly one message" test "$(printf '%s\n' "$messages" | grep -c .)" = 1
  check "exit code 1" exitIsOne
  check "no temporary or backup files" noLeftovers
  finish "happy path"
}

scenarioGate() {
  # The version value now says 1.04 (written by the update): the gate refuses.
  begin "gate refusal: 1.04 installed"
  local before
  before=$(snapshot)
  runInstaller gate_same 1
  check "same version: message 4006" contains "$messages" "This update is already installed. Brennholt is up to date."
  check "exactly one message" test "$(printf '%s\n' "$messages" | grep -c .)" = 1
  check "exit code 1" exitIsOne
  check "nothing written" test "$before" = "$(snapshot)"
  finish "gate refusal"
}

# ---------------------------------------------------------------- the run
total=$SECONDS
echo "32-bit prefix: $WINEPREFIX"
stopServer  # a server left over from an earlier run, so that system.reg is on disk
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  begin "prefix creation (wineboot -i)"
  rm -rf "$WINEPREFIX"
  "$wine" wineboot -i >"$work/wineboot.log" 2>&1
  # The first loader may end before the boot it started does: wait for the whole session.
  "$server" -w >/dev/null 2>&1
  finish "prefix creation"
  grep -q '^#arch=win32' "$WINEPREFIX/system.reg" && [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] ||
    { echo "the 32-bit prefix was not created (see $work/wineboot.log)" >&2; exit 1; }
fi
writeKey 00090067  # English (0x09), 1.03 (103)
resetGame
startDisplay 150 199 "$work/xvfb.log"
startServer

if ((!demo)); then
  for t in ${W32_UNIT_TESTS:-text installer}; do
    exe=$build/tests/win/win_$t.exe
    begin "unit tests win_$t"
    if [ ! -f "$exe" ]; then
      echo "  FAILED: missing $exe"; failures=$((failures + 1))
    else
      (cd "$build/tests/win" && "$wine" "$exe") >"$work/win_$t.log" 2>&1
      rc=$?
      grep -aE '^\[  (PASSED|FAILED)  \]|tests? ran' "$work/win_$t.log" | sed 's/^/  /'
      check "win_$t passes (exit $rc)" test "$rc" = 0
    fi
    finish "unit tests win_$t"
  done
fi

scenarioHappy
((demo)) || scenarioGate

begin "registry read back"
stopServer
check "version value = 9 << 16 | 104" test "$(versionValue)" = 0x00090068
finish "registry read back"
((keep)) && startServer

echo
echo "wall times (32-bit, under emulation):"
printf '  %s\n' "${times[@]}"
printf '  %-28s %5d s\n' total $((SECONDS - total))
echo "screenshots: $shots"
if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all 32-bit checks passed"
