#!/usr/bin/env bash
# Starts and ends tavolen-sim N times (default 200) under one Xvfb and checks
# every run ended cleanly.
#
#   scripts/soak.sh [N]        TAVOLEN_SIM overrides build/tavolen-sim
#
# Each run has its own lock place (build/tests/private-lock-place), script and log. Its points move (an ir
# event for each of the four every 100 ms) and it ends at a random moment 0.7-3 s
# after its start, by one of: HOME pressed on the remote (a buttons event in
# its script), Escape sent to the window, or the window's close box (a
# WM_DELETE_WINDOW message). A run passes when the program exits with 0 within
# 5 s of that end, its log ends with the buttons-only mode (12 00 30) and then
# the one close, and no process of the run is left. Needs Xvfb, xdotool, cc
# and Xlib (scripts/setup.sh installs them).
set -uo pipefail
cd "$(dirname "$0")/.."

runs=${1:-200}
if ! [[ $runs =~ ^[0-9]+$ ]]; then
  echo "usage: $0 [N]" >&2
  exit 2
fi
sim=${TAVOLEN_SIM:-build/tavolen-sim}
if [ ! -x "$sim" ]; then
  echo "soak: no $sim; build it first (cmake --build build)" >&2
  exit 2
fi
sim=$(realpath "$sim")
private_lock=$(dirname "$sim")/tests/private-lock-place
[ -x "$private_lock" ] || { echo "soak: no $private_lock; build it first" >&2; exit 2; }
for tool in Xvfb xdotool cc; do
  command -v "$tool" >/dev/null || { echo "soak: $tool is missing (scripts/setup.sh)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tavolen-soak.XXXXXX")
xvfb_pid=
run_pid=
keep_work=0
cleanup() {
  [ -n "$run_pid" ] && kill -KILL "$run_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  if ((keep_work)); then echo "soak: failed runs kept in $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'echo "soak: interrupted" >&2; exit 130' INT TERM

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The close box (a WM_DELETE_WINDOW message, what a window manager sends when
# it is clicked) and Escape. Escape goes to the window as a press and a release
# sent to it, never through the server's own keyboard: a release that finds
# the window gone would leave the server's Escape held, and every later window
# would see it down when it gets the focus.
cat >"$work/x_send.c" <<'C'
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) return 1;
    Window window = (Window)strtoul(argv[2], NULL, 0);
    XEvent event = {0};
    Status sent = 0;
    if (strcmp(argv[1], "close") == 0) {
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
        event.xclient.data.l[1] = CurrentTime;
        sent = XSendEvent(display, window, False, NoEventMask, &event);
    } else if (strcmp(argv[1], "escape") == 0) {
        event.xkey.window = window;
        event.xkey.root = DefaultRootWindow(display);
        event.xkey.time = CurrentTime;
        event.xkey.same_screen = True;
        event.xkey.keycode = XKeysymToKeycode(display, XK_Escape);
        event.xkey.type = KeyPress;
        sent = XSendEvent(display, window, True, KeyPressMask, &event);
        event.xkey.type = KeyRelease;
        sent = XSendEvent(display, window, True, KeyReleaseMask, &event) && sent;
    }
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
C
x_send=$work/x_send
cc -O2 -Wall -Wextra -o "$x_send" "$work/x_send.c" -lX11 || exit 2

# -noreset: a desktop's server keeps its clients (a window manager, a D-Bus
# launcher) between programs and never resets, so whatever one run leaves in
# it, a key held down included, meets the next run; so does this one.
Xvfb -noreset -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "soak: Xvfb did not start: $(cat "$work/xvfb.err")" >&2
  exit 2
fi
export DISPLAY=:$(head -n1 "$work/display")

# Four points on their own paths, a step every 100 ms up to 3 s; HOME at
# $1 ms when given.
write_script() {
  local home_ms=${1:-} t k
  echo "rate 100"
  for ((t = 0; t <= 3000; t += 100)); do
    if [ -n "$home_ms" ] && ((home_ms < t)); then
      echo "$home_ms buttons 00 80"
      home_ms=
    fi
    for k in 1 2 3 4; do
      echo "$t ir $k $(((100 + 97 * k + 7 * t / 10 * k) % 1024)) $(((60 * k + 5 * t / 10) % 768)) $((1 + k))"
    done
  done
  [ -n "$home_ms" ] && echo "$home_ms buttons 00 80"
}

# The process ids of run $1 still alive: anything whose command line names
# its directory.
leftovers() { pgrep -f -- "$1/"; }

passed=0
failed=0
soak_start=$(now_ms)
for ((i = 1; i <= runs; i++)); do
  dir=$work/run$i
  mkdir -p "$dir/xdg" && chmod 700 "$dir/xdg"
  ways=(home escape close)
  way=${ways[RANDOM % 3]}
  if [ "$way" = home ]; then
    end_ms=$((700 + RANDOM % 2251))  # on the remote's clock, which starts a little later
    write_script "$end_ms" >"$dir/script"
  else
    end_ms=$((700 + RANDOM % 2301))
    write_script >"$dir/script"
  fi

  start=$(now_ms)
  "$private_lock" "$dir/xdg" "$sim" --script "$dir/script" --log "$dir/log" >"$dir/out" 2>&1 &
  run_pid=$!
  why=
  case $way in
  escape | close)
    window=$(timeout 5 xdotool search --sync --name '^Tavolen$' | head -n1)
    if [ -z "$window" ]; then
      why="no window within 5 s"
    else
      wait_ms=$((start + end_ms - $(now_ms)))
      ((wait_ms > 0)) && sleep "$(printf '%d.%03d' $((wait_ms / 1000)) $((wait_ms % 1000)))"
      if [ "$way" = escape ]; then
        # The press alone may close the window before the release arrives:
        # whether Escape worked shows in the end.
        "$x_send" escape "$window" 2>"$dir/x_send.err"
      else
        "$x_send" close "$window" || why="the close message was not sent"
      fi
    fi
    ;;
  esac
  closed=$((start + end_ms))
  [ "$way" = escape ] || [ "$way" = close ] && closed=$(now_ms)

  while kill -0 "$run_pid" 2>/dev/null && (($(now_ms) < closed + 5000)); do sleep 0.05; done
  if kill -0 "$run_pid" 2>/dev/null; then
    kill -KILL "$run_pid" 2>/dev/null
    wait "$run_pid" 2>/dev/null
    why=${why:-"still running 5 s after the close"}
  else
    wait "$run_pid"
    code=$?
    ((code == 0)) || why=${why:-"exit code $code"}
  fi
  run_pid=

  if [ -z "$why" ]; then
    tail=$(tail -n2 "$dir/log" 2>/dev/null | cut -d' ' -f2-)
    if [ "$tail" != $'12 00 30\nclose' ]; then
      why="log does not end with 12 00 30 and close"
    elif [ "$(grep -c ' close$' "$dir/log")" -ne 1 ]; then
      why="more than one close in the log"
    fi
  fi
  left=$(leftovers "$dir")
  if [ -n "$left" ]; then
    for pid in $left; do kill -KILL "$pid" 2>/dev/null; done
    why=${why:-"processes left behind: $(echo $left)"}
  fi
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "soak: Xvfb ended during run $i" >&2
    exit 1
  fi

  if [ -z "$why" ]; then
    passed=$((passed + 1))
    rm -rf "$dir"
  else
    failed=$((failed + 1))
    keep_work=1
    said=$(head -c 300 "$dir/out" | tr '\n' ' ')
    echo "run $i ($way at $end_ms ms) failed: $why${said:+ (it said: $said)}; see $dir" >&2
  fi
done

elapsed=$(($(now_ms) - soak_start))
echo "soak: $runs runs in $((elapsed / 1000)).$(printf '%03d' $((elapsed % 1000))) s"
echo "$passed passed, $failed failed"
((failed == 0))
