#!/usr/bin/env bash
# The Wine session in which a Windows build tree's programs run: a Wine
# prefix inside the build tree, an Xvfb of the session's own, and a persistent
# wineserver whose desktop was started on that display.
#
#   wine-session.sh start BUILD_DIR          start the session unless it runs
#   wine-session.sh stop BUILD_DIR           end it (Xvfb and wineserver)
#   wine-session.sh run BUILD_DIR PROGRAM... run a program in it (starting it first)
#                                            on the session's display
#   wine-session.sh exec BUILD_DIR PROGRAM... run a program in the running session,
#                                            on the caller's display (or none)
#   wine-session.sh pack BUILD_DIR FILE      pack the session's prefix (made first if
#                                            need be) for a virtual machine that shares
#                                            this machine's files: a tar of its
#                                            registry and small files, its folders of
#                                            DLLs as links to here
#
# Everything the session starts is detached from the caller's terminal and
# pipes: a test runner that waits for its test's output would otherwise wait
# for the wineserver too.
set -euo pipefail

command=${1:?usage: wine-session.sh start|stop|run|exec BUILD_DIR [PROGRAM ARGS...]}
build=$(cd "${2:?no build directory}" && pwd)
shift 2

home=$build/wine
export WINEPREFIX=$home/prefix
export WINEDEBUG=-all
# No debugger dialog on a crash (it would wait on the display), no .NET or
# Gecko installers.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=;mshtml="

# The wineserver of this prefix listens on a socket named after the prefix's
# device and inode, in /tmp/.wine-UID or (Debian's Wine) /tmp/wine-XXXXXX.
server_running() {
  [ -d "$WINEPREFIX" ] || return 1
  local name socket
  name=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
  for socket in /tmp/.wine-"$(id -u)"/"$name"/socket /tmp/wine-*/"$name"/socket; do
    [ -S "$socket" ] && [ -O "$socket" ] && return 0
  done
  return 1
}

running() {
  local pid
  pid=$(cat "$home/xvfb.pid" 2>/dev/null) || return 1
  kill -0 "$pid" 2>/dev/null && [ -f "$home/booted" ] && server_running
}

stop_session() {
  if [ -d "$WINEPREFIX" ]; then wineserver -k </dev/null >/dev/null 2>&1 || true; fi
  local pid
  if pid=$(cat "$home/xvfb.pid" 2>/dev/null) && kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$home/xvfb.pid" "$home/display" "$home/booted"
}

start_session() {
  mkdir -p "$home"
  exec 9>"$home/session.lock"
  flock 9
  running && return 0
  stop_session

  # Xvfb first: a desktop that starts without a display never shows windows.
  rm -f "$home/display"
  setsid bash -c 'echo $$ >"$1"; exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$2"' \
    xvfb "$home/xvfb.pid" "$home/display" </dev/null >/dev/null 2>"$home/xvfb.log" 9>&- &
  for _ in $(seq 200); do
    grep -q . "$home/display" 2>/dev/null && break
    sleep 0.05
  done
  grep -q . "$home/display" || { echo "wine-session: Xvfb did not start: $(cat "$home/xvfb.log")" >&2; return 1; }
  export DISPLAY=:$(head -n1 "$home/display")

  local fresh=0
  [ -f "$WINEPREFIX/system.reg" ] || fresh=1
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1 9>&-
  if ((fresh)); then
    wineboot -i </dev/null >/dev/null 2>&1 9>&-
    # Without a window manager Wine must draw the frames itself, or
    # DestroyWindow and MessageBoxA stall about two seconds each.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 9>&-
    # Wine's HID bus over SDL polls; over its own backend it idles.
    wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' \
      /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 9>&-
    # The bus read its settings when it started: start the services again.
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1 9>&-
  fi
  wineboot </dev/null >/dev/null 2>&1 9>&-
  # A program that stays for the whole session, on its display. Wine ends the
  # desktop process a moment after the last program has gone, and the next
  # program starts it again on its own display: a test's display, which goes
  # away with the test, leaving the desktop that the following tests' programs
  # need dying under them ("cannot open its window").
  setsid wine notepad </dev/null >/dev/null 2>&1 9>&- &
  touch "$home/booted"
}

# A wineboot in a virtual machine without KVM takes over a minute, a copy of
# the whole prefix 700 MB: the registry and the small files (23 MB) go, the
# DLLs stay where they are. Wine's HID bus takes hidraw alone there: over
# SDL and evdev it would offer a kernel driver's input devices as further
# devices with the same identifiers and no output reports.
pack_prefix() {
  local staging
  staging=$(mktemp -d) && mkdir -p "$(dirname "$1")"
  tar -C "$WINEPREFIX" --exclude=./wineserver --exclude=./drive_c/windows/system32 \
    --exclude=./drive_c/windows/winsxs -cf - . | tar -C "$staging" -xf -
  ln -s "$WINEPREFIX"/drive_c/windows/{system32,winsxs} "$staging/drive_c/windows/"
  sed -i '/^\[System\\\\CurrentControlSet\\\\Services\\\\winebus\]/a "Enable SDL"=dword:00000000\n"DisableInput"=dword:00000001' \
    "$staging/system.reg"
  grep -q '^"DisableInput"=dword:00000001' "$staging/system.reg" && tar -C "$staging" -cf "$1" .
  local status=$?
  rm -rf "$staging"
  return $status
}

case $command in
  start)
    start_session
    ;;
  stop)
    stop_session
    ;;
  run)
    running || (start_session) || exit 125
    DISPLAY=:$(head -n1 "$home/display")
    export DISPLAY
    exec wine "$@"
    ;;
  exec)
    exec wine "$@"
    ;;
  pack)
    [ -s "$WINEPREFIX/system.reg" ] || { (start_session) && stop_session; } || exit 1
    pack_prefix "${1:?no file to pack into}" || { echo "wine-session: cannot pack $WINEPREFIX" >&2; exit 1; }
    ;;
  *)
    echo "wine-session.sh: unknown command '$command'" >&2
    exit 2
    ;;
esac
