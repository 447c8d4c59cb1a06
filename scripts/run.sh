#!/bin/sh
# Builds corvane.exe and runs it under Wine with one argument (default: the
# help switch "?"). With a display the box shows there; without one the run
# happens on a private Xvfb display, the box is saved as
# build/run/help-box.png and then closed with OK.
#
# The private display runs no window manager, so a box there would have no
# frame and no caption. Wine then draws them itself, on a virtual desktop
# of its own, as large as an ordinary screen, and the picture is cut to the
# box. Whatever the desktop's size, Wine wraps a message box's text at the
# fixed width of its own box template (the same pixels at 640x480 as at
# 1280x1024), so the two longest help lines wrap in the picture.
#
# On the private display every wait is bounded: a box that cannot be found
# or closed ends that Wine session and Xvfb, and the run fails saying so.
set -eu
cd "$(dirname "$0")/.."
argument="${1-?}"

sh scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target corvane >/dev/null

run_dir="$PWD/build/run"
rm -rf "$run_dir"
mkdir -p "$run_dir/prefix"
export WINEPREFIX="$run_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
box_seconds=90  # for the box to appear: a Wine start under an emulator is slow
close_seconds=30
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' HUP INT TERM
fail() {
  echo "run.sh: $*; ended the Wine session" >&2
  exit 1
}

private_display=no
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  private_display=yes
  exec 3>"$run_dir/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 50); do [ -s "$run_dir/display" ] && break; sleep 0.2; done
  [ -s "$run_dir/display" ] || fail "Xvfb did not start within 10 s"
  export DISPLAY=":$(cat "$run_dir/display")"
fi

echo "Preparing a fresh Wine prefix in $WINEPREFIX ..."
# Under a user-mode emulator the first Wine start fails now and then.
for attempt in 1 2 3; do
  timeout 300 wineboot -i >/dev/null 2>&1 && break
  [ "$attempt" -lt 3 ] || { echo "wineboot failed three times" >&2; exit 1; }
  echo "wineboot failed (attempt $attempt of 3); retrying in a new prefix"
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
done
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
desktop_name=Corvane
if [ "$private_display" = yes ]; then
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d "$desktop_name" /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v "$desktop_name" /d 1280x1024 /f >/dev/null 2>&1
fi

echo "Running: corvane.exe $argument"
wine build/win32/corvane.exe "$argument" &
corvane_pid=$!

if [ "$private_display" = yes ]; then
  # The box is all there is on the empty desktop: wait until something
  # other than background is there and has stopped changing, or until the
  # run has ended without a box (an action).
  desktop_title="$desktop_name - Wine desktop"
  desktop="" box=0x0+0+0 previous="" found=no
  deadline=$(($(date +%s) + box_seconds))
  while [ "$(date +%s)" -lt "$deadline" ] && kill -0 "$corvane_pid" 2>/dev/null; do
    [ -n "$desktop" ] || desktop=$(xdotool search --name "^$desktop_title\$" 2>/dev/null | head -n 1 || true)
    if [ -n "$desktop" ] && import -window "$desktop" "$run_dir/desktop.png" 2>/dev/null; then
      box=$(convert "$run_dir/desktop.png" -format '%@' info: 2>/dev/null) || box=0x0+0+0
      [ "${box%%x*}" -gt 1 ] && [ "$box" = "$previous" ] && { found=yes; break; }
      previous=$box
    fi
    sleep 0.25
  done
  if kill -0 "$corvane_pid" 2>/dev/null; then
    [ -n "$desktop" ] || fail "the window \"$desktop_title\" was not found within $box_seconds s"
    [ "$found" = yes ] || fail "no box appeared on \"$desktop_title\" within $box_seconds s"
    # The box came up behind an X focus nobody gave the desktop: a click
    # beside it and one on its caption make it active, as a user's would.
    x=${box#*+}
    y=${x#*+}
    x=${x%+*}
    xdotool mousemove --window "$desktop" 2 2 click 1 \
      mousemove --window "$desktop" $((x + 40)) $((y + 10)) click 1
    sleep 1
    import -window "$desktop" "$run_dir/desktop.png"
    convert "$run_dir/desktop.png" -crop "$box" +repage "$run_dir/help-box.png"
    echo "Saved a picture of the help box: build/run/help-box.png"
    xdotool key Return
    deadline=$(($(date +%s) + close_seconds))
    while kill -0 "$corvane_pid" 2>/dev/null; do
      [ "$(date +%s)" -lt "$deadline" ] || fail "the box did not close within $close_seconds s of pressing Return"
      sleep 0.25
    done
  else
    echo "No help box appeared (the argument selects an action)."
  fi
fi

status=0
wait "$corvane_pid" || status=$?
echo "corvane.exe exit code: $status"
