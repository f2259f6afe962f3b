#!/usr/bin/env bash
# End-to-end scenarios of the update installer: each sets up the registry and a game folder
# in a Wine prefix, runs a real installer executable on a virtual X display, answers its
# windows with the keyboard, and checks the messages shown (from Wine's message-box trace),
# the files, their contents and times, the registry value and the exit code.
#
#   run_e2e.sh --bin DIR --work DIR --time "YYYY-MM-DD HH:MM:SS" [SCENARIO...]
#
# DIR holds the test installers (e2e_*.exe) and the readme stub; the prefix, logs and
# screenshots go to the work folder. The time is the one every archived file carries.
# Without scenario names every scenario runs.
set -u

bin= work= fileTime=
scenarios=()
while (($#)); do
  case $1 in
    --bin) bin=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --time) fileTime=$2; shift 2 ;;
    *) scenarios+=("$1"); shift ;;
  esac
done
[ -n "$bin" ] && [ -n "$work" ] && [ -n "$fileTime" ] || { echo "usage: $0 --bin DIR --work DIR --time T" >&2; exit 2; }
mkdir -p "$work"
work=$(cd "$work" && pwd)

export WINEPREFIX=$work/wineprefix
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=wineserver

key='HKLM\SOFTWARE\Feuerstein Interactive\Brennholt'
gameDos='C:\Games\Brennholt'
game=$WINEPREFIX/drive_c/Games/Brennholt
launchLog=$WINEPREFIX/drive_c/launched.txt
programFiles=$WINEPREFIX/drive_c/'Program Files'
shots=$work/screenshots
mkdir -p "$shots"

# ---------------------------------------------------------------- display and prefix
xvfbPid=
cleanup() {
  "$server" -k >/dev/null 2>&1
  [ -n "$xvfbPid" ] && kill "$xvfbPid" 2>/dev/null
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/display.sh"

startPrefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >"$work/wineboot.log" 2>&1
  fi
  "$server" -p >/dev/null 2>&1 </dev/null
  mkdir -p "$WINEPREFIX/drive_c/e2e"
  cp "$bin/e2e_readme_stub.exe" "$WINEPREFIX/drive_c/e2e/"
  # Text files open with the stub, which records its command line.
  reg add 'HKCR\.txt' /ve /d e2etxt /f
  reg add 'HKCR\e2etxt\shell\open\command' /ve /d '"C:\e2e\e2e_readme_stub.exe" "%1"' /f
}

reg() { "$wine" reg "$@" >/dev/null 2>&1; }

# ---------------------------------------------------------------- set-up helpers
resetState() {
  reg delete "$key" /f
  rm -rf "$WINEPREFIX/drive_c/Games" "$launchLog" \
         "$programFiles/Common Files/FsLink.dll" "$programFiles/Feuerstein Interactive" \
         "$WINEPREFIX/drive_c/Games/escaped.bnk" "$WINEPREFIX/drive_c/escaped.bnk"
}

# installGame VERSION_VALUE|none [SIDE_LANGUAGE]: an installed game at C:\Games\Brennholt.
installGame() {
  mkdir -p "$game/data"
  printf 'MZ game\n' >"$game/Brennholt.exe"
  printf 'units v103\n' >"$game/data/units.cfg"
  printf 'old readme\r\n' >"$game/Readme104.txt"
  chmod a-w "$game/data/units.cfg"
  reg add "$key" /v InstallDir /t REG_SZ /d "$gameDos" /f
  [ "$1" != none ] && reg add "$key" /v Version /t REG_DWORD /d "$1" /f
  [ -n "${2:-}" ] && printf 'Language\t%s\r\n' "$2" >"$game/Language.dat"
  # Read-only in Windows terms too.
  "$wine" cmd /c attrib +r "$gameDos\\data\\units.cfg" >/dev/null 2>&1
  return 0
}

versionValue() {
  "$wine" reg query "$key" /v Version 2>/dev/null | tr -d '\r' | awk '/Version/ {print $3}'
}

snapshot() {  # a listing of the game folder with contents, to compare before and after
  # Folder times change with every file created in them and removed again: compare the
  # folders by name, the files by size, time, permissions and contents.
  (cd "$WINEPREFIX/drive_c" && find Games -type d | sort &&
   find Games -type f -exec stat -c '%n %s %Y %A' {} \; | sort &&
   find Games -type f -exec md5sum {} \; | sort)
}

# ---------------------------------------------------------------- running the installer
# runInstaller NAME EXE [ARGS...]: runs it, answering each of its windows: Escape for the
# confirmation when $answer is cancel, else Return. Sets exitCode and messages (the texts
# of the message boxes shown, one a line).
answer=ok
runInstaller() {
  local name=$1 exe=$2
  shift 2
  local trace=$work/$name.trace
  WINEDEBUG=-all,trace+msgbox "$wine" "$bin/$exe" "$@" 2>"$trace" &
  local pid=$! seen=() shot=0 windows id deadline=$((SECONDS + 120)) confirmed=0
  while kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)); do
    windows=$(xdotool search --onlyvisible --name 'Brennholt' 2>/dev/null)
    for id in $windows; do
      shot=$((shot + 1))
      sleep 0.5
      import -window root "$shots/$name-$shot.png" 2>/dev/null
      xdotool windowfocus "$id" 2>/dev/null
      if [ "$answer" = cancel ] && ((confirmed == 0)); then
        xdotool key --window "$id" Escape 2>/dev/null; xdotool key Escape 2>/dev/null
      else
        xdotool key --window "$id" Return 2>/dev/null; xdotool key Return 2>/dev/null
      fi
      confirmed=1
      sleep 0.5
    done
    sleep 0.3
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "  installer did not end; killing it"
    kill "$pid"
  fi
  wait "$pid"
  exitCode=$?
  messages=$(grep -a 'MSGBOX_OnInit' "$trace" | sed -e 's/.*MSGBOX_OnInit L"//' -e 's/"$//')
}

# ---------------------------------------------------------------- checks
failures=0 scenarioFailed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "  ok: $what"; else echo "  FAILED: $what"; scenarioFailed=1; fi
}
contains() { [[ $1 == *"$2"* ]]; }
noMessage() { [ -z "$messages" ]; }
fileIs() { [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]; }
timeIs() {  # the archived local time, converted to UTC by the installer, seen from Linux
  local want
  want=$(date -d "$fileTime" +%s)
  [ "$(stat -c %Y "$1")" = "$want" ] && [ "$(stat -c %X "$1")" = "$want" ]
}
isWritable() { [ -w "$1" ]; }
exitIsOne() { [ "$exitCode" = 1 ]; }
absent() { [ ! -e "$1" ]; }
noLeftovers() { [ -z "$(find "$game" -name '*.~new' -o -name '*.~old' 2>/dev/null)" ]; }

# ---------------------------------------------------------------- scenarios
scenario_not_installed() {
  resetState
  runInstaller not_installed_nokey e2e_standard.exe
  check "no key: message 4003" contains "$messages" "was not found on this computer"
  check "exit code 1" exitIsOne
  check "nothing written" absent "$WINEPREFIX/drive_c/Games"

  resetState
  reg add "$key" /v Version /t REG_DWORD /d 0x00090067 /f
  runInstaller not_installed_nofolder e2e_standard.exe
  check "key without folder: 4003" contains "$messages" "was not found on this computer"
  check "no version written" test "$(versionValue)" = 0x90067

  resetState
  installGame 0x00090067
  rm "$game/Brennholt.exe"
  local before
  before=$(snapshot)
  runInstaller not_installed_nomain e2e_standard.exe
  check "folder without main file: 4003" contains "$messages" "was not found on this computer"
  check "game folder unchanged" test "$before" = "$(snapshot)"
}

scenario_gate() {
  resetState
  installGame 0x00090068
  runInstaller gate_same e2e_standard.exe
  check "same version: 4006" contains "$messages" "This update is already installed. Brennholt is up to date."

  resetState
  installGame 0x00090069
  runInstaller gate_newer e2e_standard.exe
  check "newer version: 4005" contains "$messages" "A newer version of Brennholt is already installed"

  resetState
  installGame none English
  runInstaller gate_missing_value e2e_standard.exe
  check "version value missing: 4005" contains "$messages" "A newer version of Brennholt is already installed"

  resetState
  installGame 0x00070067
  local before
  before=$(snapshot)
  runInstaller gate_disabled e2e_disabled.exe
  check "disabled language: 4009 in German" contains "$messages" "Sprachversion von Brennholt nicht"
  check "exit code 1" exitIsOne
  check "game folder unchanged" test "$before" = "$(snapshot)"
  check "version value unchanged" test "$(versionValue)" = 0x70067
}

scenario_happy_english() {
  resetState
  installGame 0x00090067
  runInstaller happy_english e2e_standard.exe
  # Times first: reading a file moves its access time.
  check "times set from the archive" timeIs "$game/data/speech.bnk"
  check "times set on a replaced file" timeIs "$game/data/units.cfg"
  check "success message 4007 with %1" contains "$messages" "Brennholt has been updated to version 1.04"
  check "exactly one message" test "$(printf '%s\n' "$messages" | grep -c .)" = 1
  check "exit code 1" exitIsOne
  check "common file, prefix stripped" fileIs "$game/data/units.cfg" "units v104"
  check "read-only file replaced, now writable" isWritable "$game/data/units.cfg"
  check "English file" fileIs "$game/data/speech.bnk" "english speech v104"
  check "big late file" test "$(wc -l <"$game/data/big.bin")" = 3000
  check "English readme" grep -q "English" "$game/Readme104.txt"
  check "no Japanese or German file" absent "$game/jpn"
  check "version value = 9 << 16 | 104" test "$(versionValue)" = 0x90068
  check "readme opened with the stub" grep -qi 'Games\\Brennholt\\Readme104.txt' "$launchLog"
  check "move step: FsLink.dll to Common Files" fileIs "$programFiles/Common Files/FsLink.dll" "shared link library v104"
  check "move step: source removed" absent "$game/FsLink.dll"
  check "no temporary or backup files" noLeftovers
}

scenario_happy_mszip_no_readme() {
  resetState
  installGame 0x00090001
  mkdir -p "$programFiles/Feuerstein Interactive/Shared"
  printf 'old link\n' >"$programFiles/Feuerstein Interactive/Shared/FsLink.dll"
  runInstaller happy_mszip e2e_mszip.exe 1
  check "success message" contains "$messages" "Brennholt has been updated to version 1.04"
  check "MSZIP folders extracted" test "$(wc -l <"$game/data/big.bin")" = 3000
  check "argument 1: readme not opened" absent "$launchLog"
  check "move step: preferred folder used when the file is there" fileIs "$programFiles/Feuerstein Interactive/Shared/FsLink.dll" "shared link library v104"
  check "version value" test "$(versionValue)" = 0x90068
}

scenario_happy_japanese() {
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf-\?8$'; then
    echo "  SKIPPED: locale ja_JP.UTF-8 missing (scripts/setup.sh makes it)"
    return
  fi
  resetState
  installGame 0x00110067
  LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 runInstaller happy_japanese e2e_standard.exe
  check "a message naming Brennholt" contains "$messages" "Brennholt"
  check "exit code 1" exitIsOne
  check "Japanese file" fileIs "$game/data/speech.bnk" "japanese speech v104"
  check "Japanese readme" grep -q "Japanese" "$game/Readme104.txt"
  check "no English big file" absent "$game/data/big.bin"
  check "version value = 0x11 << 16 | 104" test "$(versionValue)" = 0x110068
}

scenario_language_detection() {
  # The version value names no known language: the side file decides.
  resetState
  installGame 0x00550067 German
  runInstaller detect_side e2e_standard.exe 1
  check "side file: German success message" contains "$messages" "Brennholt wurde auf Version 1.04"
  check "side file: German readme" grep -q "Liesmich" "$game/Readme104.txt"
  check "side file: German id written" test "$(versionValue)" = 0x70068

  # No key: the locale decides (English), and the gate refuses in English.
  resetState
  LANG=en_US.UTF-8 runInstaller detect_locale e2e_standard.exe
  check "locale: English 4003" contains "$messages" "was not found on this computer"

  # Version value naming German: German texts.
  resetState
  installGame 0x00070068
  runInstaller detect_value e2e_standard.exe
  check "version value: German 4006" contains "$messages" "Dieses Update ist bereits installiert"
}

scenario_cancel() {
  resetState
  installGame 0x00090067
  local before
  before=$(snapshot)
  answer=cancel
  runInstaller cancel e2e_standard.exe
  answer=ok
  check "no message" noMessage
  check "exit code 1" exitIsOne
  check "game folder unchanged" test "$before" = "$(snapshot)"
  check "version value unchanged" test "$(versionValue)" = 0x90067
}

scenario_corrupt() {
  resetState
  installGame 0x00090067
  local before
  before=$(snapshot)
  runInstaller corrupt e2e_corrupt.exe
  check "extraction-failure message 5004" contains "$messages" "its data is damaged"
  check "exit code 1" exitIsOne
  check "game folder byte for byte as before" test "$before" = "$(snapshot)"
  check "version value unchanged" test "$(versionValue)" = 0x90067
  check "readme not opened" absent "$launchLog"
}

scenario_dotdot() {
  resetState
  installGame 0x00090067
  local before
  before=$(snapshot)
  runInstaller dotdot e2e_dotdot.exe
  check "refused with 5004" contains "$messages" "its data is damaged"
  check "nothing written in the game folder" test "$before" = "$(snapshot)"
  check "nothing written beside it" absent "$WINEPREFIX/drive_c/Games/escaped.bnk"
  check "version value unchanged" test "$(versionValue)" = 0x90067
}

all=(not_installed gate happy_english happy_mszip_no_readme happy_japanese
     language_detection cancel corrupt dotdot)
((${#scenarios[@]})) || scenarios=("${all[@]}")

startDisplay 90 140 "$work/xvfb.log"
startPrefix
for s in "${scenarios[@]}"; do
  echo "== $s"
  scenarioFailed=0
  "scenario_$s"
  ((scenarioFailed)) && failures=$((failures + 1))
done
echo
echo "screenshots: $shots"
if ((failures)); then
  echo "$failures scenario(s) failed"
  exit 1
fi
echo "all scenarios passed"
