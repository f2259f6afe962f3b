# Sourced by the end-to-end drivers: a virtual X display of their own.
#
# startDisplay FIRST LAST LOG: starts Xvfb on the first free display number from FIRST to
# LAST, exports DISPLAY and sets xvfbPid (the caller kills it at the end). With
# E2E_USE_DISPLAY set, the caller's own $DISPLAY is used instead.
startDisplay() {
  [ -n "${E2E_USE_DISPLAY:-}" ] && return
  local n
  for n in $(seq "$1" "$2"); do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$3" 2>&1 &
    xvfbPid=$!
    sleep 1
    if kill -0 "$xvfbPid" 2>/dev/null; then
      export DISPLAY=:$n
      return
    fi
    xvfbPid=
  done
  echo "no free X display" >&2
  exit 1
}
