#!/bin/sh
# Builds corvane.exe and runs it under Wine with one argument (default: the
# help switch "?"). With a display the box shows there; without one the run
# happens on a private Xvfb display, the box is saved as
# build/run/help-box.png and then closed with OK.
set -eu
cd "$(dirname "$0")/.."
argument="${1-?}"

sh scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target corvane >/dev/null

run_dir="$PWD/build/run"
rm -rf "$run_dir"
mkdir -p "$run_dir/prefix"
export WINEPREFIX="$run_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

private_display=no
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  private_display=yes
  exec 3>"$run_dir/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 50); do [ -s "$run_dir/display" ] && break; sleep 0.2; done
  export DISPLAY=":$(cat "$run_dir/display")"
fi

echo "Preparing a fresh Wine prefix in $WINEPREFIX ..."
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

echo "Running: corvane.exe $argument"
wine build/win32/corvane.exe "$argument" &
corvane_pid=$!

if [ "$private_display" = yes ]; then
  # Wait for the box, or for the run to end without one (an action).
  window=""
  for _ in $(seq 240); do
    window=$(xdotool search --onlyvisible --name '^About Corvane$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    kill -0 "$corvane_pid" 2>/dev/null || break
    sleep 0.25
  done
  if [ -n "$window" ]; then
    sleep 1
    import -window root "$run_dir/help-box.png"
    echo "Saved a screenshot of the help box: build/run/help-box.png"
    xdotool key --window "$window" Return 2>/dev/null
  else
    echo "No help box appeared (the argument selects an action)."
  fi
fi

status=0
wait "$corvane_pid" || status=$?
echo "corvane.exe exit code: $status"
