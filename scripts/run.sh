#!/bin/sh
# Builds corvane.exe and runs it under Wine with one argument (default: the
# help switch "?"). With a display the box shows there; without one the run
# happens on a private Xvfb display, the help box is saved as
# build/run/help-box.png and then closed with OK.
#
# The private display runs no window manager, so a box there would have no
# frame and no caption. Wine then draws them itself, on a virtual desktop
# of its own, as large as an ordinary screen, and the picture is cut to the
# box. Whatever the desktop's size, Wine wraps a message box's text at the
# fixed width of its own box template (the same pixels at 640x480 as at
# 1280x1024), so the three longest help lines wrap in the picture.
#
# Exits with corvane.exe's exit code, which the last line prints, or with 1
# when run.sh cannot do its job: a step that does not end in time, a box
# that is not the help box (saved as build/run/other-box.png), or a Wine
# process left running after the session ended. It says which.
set -eu
cd "$(dirname "$0")/.."
argument="${1-?}"

sh scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target corvane >/dev/null

run_dir="$PWD/build/run"
prefix="$run_dir/prefix"
help_caption="About Corvane"
prepare_seconds=300  # a fresh prefix; a Wine start under an emulator is slow
step_seconds=60
box_seconds=90
close_seconds=30
end_seconds=30

# WINEPREFIX goes to Wine's processes (and Xvfb) only, not to this shell, so
# that it tells which processes belong to this run.
in_prefix() {
  env WINEPREFIX="$prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" "$@"
}
prefix_processes() {
  for environ in /proc/[0-9]*/environ; do
    { tr '\0' '\n' <"$environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" || continue
    pid=${environ#/proc/}
    pid=${pid%/environ}
    echo "$pid $({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null)"
  done
}

xvfb_pid=""
corvane_pid=""
cleanup() {
  status=$?
  trap - EXIT
  # The session ends by itself once corvane.exe has ended, Wine's log-off,
  # reboot and shutdown included, and whatever Wine started for it with it.
  # Only a run that gave up on corvane.exe ends the session itself.
  if [ -n "$corvane_pid" ] && kill -0 "$corvane_pid" 2>/dev/null; then
    in_prefix timeout "$step_seconds" wineserver -k 2>/dev/null || true
  fi
  if ! in_prefix timeout "$end_seconds" wineserver -w 2>/dev/null; then
    echo "run.sh: the Wine session did not end within $end_seconds s; ended it" >&2
    in_prefix timeout "$step_seconds" wineserver -k 2>/dev/null || true
    in_prefix timeout "$step_seconds" wineserver -w 2>/dev/null || true
    status=1
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  deadline=$(($(date +%s) + end_seconds))
  while [ -n "$(prefix_processes)" ] && [ "$(date +%s)" -lt "$deadline" ]; do
    sleep 0.5
  done
  left=$(prefix_processes)
  if [ -n "$left" ]; then
    echo "run.sh: still running $end_seconds s after the Wine session ended, now killed:" >&2
    echo "$left" >&2
    echo "$left" | while read -r pid _; do kill -9 "$pid" 2>/dev/null || true; done
    status=1
  fi
  [ -z "$auth_dir" ] || rm -rf "$auth_dir"
  exit "$status"
}
auth_dir=""
trap cleanup EXIT
trap 'exit 130' HUP INT TERM
fail() {
  echo "run.sh: $*; ended the Wine session" >&2
  exit 1
}
# Runs a Wine step before the wait for the box, bounded and as a session of
# its own: "bounded SECONDS WHAT COMMAND...". The next step waits until
# the wineserver has ended the session: a program that starts while a
# session ends is ended with it.
bounded() {
  seconds=$1 what=$2
  shift 2
  step_status=0
  in_prefix timeout "$seconds" "$@" >/dev/null 2>&1 || step_status=$?
  [ "$step_status" -ne 124 ] || fail "$what did not end within $seconds s"
  [ "$step_status" -eq 0 ] || fail "$what failed"
  in_prefix timeout "$end_seconds" wineserver -w 2>/dev/null ||
    fail "the Wine session of $what did not end within $end_seconds s"
}

rm -rf "$run_dir"
mkdir -p "$prefix"
private_display=no
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  private_display=yes
  # Only this account may use the display: a fresh cookie in a folder only
  # it can read. The server takes every cookie of its file, whatever
  # display the entry names; clients look for their display's, added once
  # the number is known.
  auth_dir=$(mktemp -d)
  authority="$auth_dir/Xauthority"
  (umask 077 && : >"$authority")
  cookie=$(mcookie)
  xauth -q -f "$authority" add :0 . "$cookie"
  exec 3>"$run_dir/display"
  # A simple command, not in_prefix: a function run in the background is a
  # subshell, so $! would be that shell, and killing it would leave Xvfb.
  env WINEPREFIX="$prefix" Xvfb -displayfd 3 -auth "$authority" -screen 0 1280x1024x24 \
    -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 50); do [ -s "$run_dir/display" ] && break; sleep 0.2; done
  [ -s "$run_dir/display" ] || fail "Xvfb did not start within 10 s"
  export DISPLAY=":$(cat "$run_dir/display")" XAUTHORITY="$authority"
  xauth -q -f "$authority" add "$DISPLAY" . "$cookie"
fi

echo "Preparing a fresh Wine prefix in $prefix ..."
# Wine makes the prefix as it starts its first program; "wineboot -i" would
# run a second init, whose second services.exe keeps restarting services.
bounded "$prepare_seconds" "the first Wine start" wine cmd /c exit
bounded "$step_seconds" "wine reg add" wine reg add 'HKCU\Software\Wine\WineDbg' \
  /v ShowCrashDialog /t REG_DWORD /d 0 /f
desktop_name=Corvane
if [ "$private_display" = yes ]; then
  bounded "$step_seconds" "wine reg add" wine reg add 'HKCU\Software\Wine\Explorer' \
    /v Desktop /d "$desktop_name" /f
  bounded "$step_seconds" "wine reg add" wine reg add \
    'HKCU\Software\Wine\Explorer\Desktops' /v "$desktop_name" /d 1280x1024 /f
fi

echo "Running: corvane.exe $argument"
in_prefix wine build/win32/corvane.exe "$argument" &
corvane_pid=$!

picture_failure=""
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
    # Wine gives each window on its desktop an X window named by its caption.
    caption=""
    for window in $(xdotool search --onlyvisible --name . 2>/dev/null || true); do
      [ "$window" != "$desktop" ] || continue
      caption=$(xdotool getwindowname "$window" 2>/dev/null || true)
      [ -z "$caption" ] || break
    done
    # The box came up behind an X focus nobody gave the desktop: a click
    # beside it and one on its caption make it active, as a user's would.
    x=${box#*+}
    y=${x#*+}
    x=${x%+*}
    xdotool mousemove --window "$desktop" 2 2 click 1 \
      mousemove --window "$desktop" $((x + 40)) $((y + 10)) click 1
    sleep 1
    import -window "$desktop" "$run_dir/desktop.png"
    if [ "$caption" = "$help_caption" ]; then
      convert "$run_dir/desktop.png" -crop "$box" +repage "$run_dir/help-box.png"
      echo "Saved a picture of the help box: build/run/help-box.png"
    else
      convert "$run_dir/desktop.png" -crop "$box" +repage "$run_dir/other-box.png"
      picture_failure="the box shown is \"$caption\", not the help box \"$help_caption\"; saved a picture of it as build/run/other-box.png"
      echo "run.sh: $picture_failure" >&2
    fi
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
corvane_pid=""
echo "corvane.exe exit code: $status"
[ -z "$picture_failure" ] || exit 1
exit "$status"
