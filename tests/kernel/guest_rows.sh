#!/bin/bash
# The kernel tier in the guest, chrooted into the host's root: each row of
# rows.txt, its files left in results/<row>/ for the host to judge.
#   guest_rows.sh BUILD_DIR KERNEL_ROOT ROWS [WINDOWS_BUILD_DIR]   (ROWS: all, or a,b,c)
build=$1 kernel=$2 only=$3 windows=$4 here=$(dirname "$0")
out=${windows:-$build}/kernel-tier/results
export PATH=/usr/sbin:/usr/bin:/sbin:/bin DISPLAY=:7 SYSTEMD_IGNORE_CHROOT=1
source "$here/judge.sh"  # each_row
# Time without starting a process: the guest's processor is emulated.
now_ms() { local t=${EPOCHREALTIME/./}; echo $((10#$t / 1000)); }
since_node() { echo $(($(now_ms) - appeared)); }  # facts *_at count from the node's appearance
# wait_until MS COMMAND...: until the command succeeds, at most MS.
wait_until() { local deadline=$(($(now_ms) + $1)); until "${@:2}" || (($(now_ms) > deadline)); do sleep 0.02; done; }
first_node() { local n; for n in /dev/hidraw*; do [ -e "$n" ] && node=$n && return; done; return 1; }
note() { echo "$1=$2" >>"$dir/facts"; }
# The remote was sent a report starting with BYTES (at least N times).
was_sent() { [ "$(grep -c "^[0-9.]* $1" "$dir/remote.log" 2>/dev/null)" -ge "${2:-1}" ]; }
probe_missed() { grep -qs "Wii-Remote cannot open." "$dir/tavolen.err"; }
tavolen_done() { [[ $(cut -d' ' -f3 "/proc/$tavolen/stat" 2>/dev/null) == @(Z|) ]] || probe_missed; }
# Then a second more: tavolen starts reading 0.5 s after its mode, and until it has read what
# queued meanwhile, hidraw's full queue (64 reports) drops what comes, a status report too.
wait_for_tavolen_mode() { wait_until 10000 eval 'was_sent "12 00 33" || probe_missed' && sleep 1; }

read_battery() { wait_for_tavolen_mode && note capacity "$(cat /sys/class/power_supply/wiimote_battery_*/capacity)"; }
# Another program sets 12 00 31 through the node, behind tavolen's back.
write_foreign_mode() { wait_for_tavolen_mode && printf '\x12\x00\x31' | dd of="$node" bs=3 count=1 iflag=fullblock 2>/dev/null; }
# Another program opens the driver's IR input device for a second.
open_ir_device() {
  wait_for_tavolen_mode
  sleep 1 <"/dev/input/$(grep -lx "Nintendo Wii Remote IR" /sys/class/input/event*/device/name | cut -d/ -f5)"
}
# The virtual remote itself, for a user who may not open /dev/uhid.
uhid_as_nobody() { note uhid "$({ setpriv --reuid=65534 --regid=65534 --clear-groups "$build/tavolen-virtual-remote" 2>&1; echo " exit $?"; } | tr -d '\n')"; }
end_after_disconnect() { wait_until 10000 grep -qF disconnected "$dir/tavolen.err" && kill -TERM "$tavolen"; }
# The real systemd-udevd on a remote without the rule, then with it and a USB remote too.
note_tags() {
  udevadm trigger --subsystem-match=hidraw --action=add && udevadm settle --timeout=10
  for node in /dev/hidraw*; do
    note "$1_$(sed -n 's/^HID_ID=//p' "/sys/class/hidraw/${node#/dev/}/device/uevent")" \
      "$(udevadm info --query=property "$node" | sed -n 's/^TAGS=//p')"
  done
}
apply_udev_rule() {
  /lib/systemd/systemd-udevd --daemon 2>>"$dir/udevd.err" && note_tags without_rule
  mkdir -p /run/udev/rules.d && cp "$here/../../udev/60-tavolen.rules" /run/udev/rules.d/ && udevadm control --reload
  "$build/tavolen-virtual-remote" --bus usb --scenario still &
  sleep 0.5 && note_tags tags && kill -TERM $! && wait $!
  udevadm control --exit
}

# Wine on the Wine session's prefix (its small files unpacked here), the programs in memory
# (from the 9p share, tavolen.exe crashed), its HID bus told of each new remote by udevd. A
# program kept running keeps Wine's desktop process between rows, as Windows' own stays (else
# each program's first window waited 5 to 7 s here); a first run reads the libraries in.
start_wine() {
  export WINEPREFIX=/tmp/wine/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d;mscoree=;mshtml=;winemenubuilder.exe=d"
  /lib/systemd/systemd-udevd --daemon 2>"$out/udevd.err"
  mkdir -p "$WINEPREFIX" && tar -C "$WINEPREFIX" -xf "$windows/kernel-tier/prefix.tar" && cp "$windows"/tavolen{,-sim}.exe /tmp/wine/
  wineserver -p && wine wineboot </dev/null >/dev/null 2>&1 && { setsid wine notepad </dev/null >/dev/null 2>&1 & }
  printf '0 ir 1 300 200\n300 buttons 00 80\n' >/tmp/wine/first.txt
  timeout 60 wine /tmp/wine/tavolen-sim.exe --script Z:/tmp/wine/first.txt >/dev/null 2>&1
}
# Before tavolen.exe: udev's rules have run (they open the driver's input
# devices a moment), Wine's HID bus has the node open, its window is watched for.
before_tavolen_exe() {
  udevadm settle --timeout=10 && note settled_at "$(since_node)"
  wait_until 10000 wine_has_node && note wine_took "$(since_node)"
  { until window_shown; do sleep 0.25; done; note shown_at "$(since_node)"; } & watcher=$!  # 4 looks a second: each starts xdotool
}
wine_has_node() { [ -n "$(find /proc/[0-9]*/fd -lname "$node" -print -quit 2>/dev/null)" ]; }
window_shown() { window=$(xdotool search --name '^Tavolen$' 2>/dev/null | head -n 1) && [ -n "$window" ]; }
# Escape to tavolen's window once it shows, released afterwards through the X
# server: a release sent to a window that has closed leaves Wine holding Escape down.
press_escape() {
  wait_until 40000 window_shown && note escape_at "$(since_node)"
  xdotool key --window "$window" Escape && xdotool keyup Escape
}
escape_after_disconnect() { wait_until 20000 grep -qF disconnected "$dir/tavolen.err" && press_escape; }

# The row each_row read, its files in memory while it runs: a write over 9p may
# wait on the host, and the remote answers only once its log line is written.
run_row() {
  if [ "$driver" != "$loaded" ]; then  # hid-generic takes every device, hid-wiimote goes
    modprobe -d "$kernel" -r hid_wiimote && echo 1 >/sys/module/hid/parameters/ignore_special_drivers
    modprobe -d "$kernel" hid_generic && loaded=$driver
  fi
  dir=/tmp/rows/$name node="" tavolen="" remote="" watcher="" began=$(now_ms) appeared=$(now_ms)
  rm -rf "$dir" && mkdir -p "$dir" && tr ';' '\n' <<<"$script" >"$dir/script.txt"
  if [ "$start" != wine-replay ]; then
    "$build/tavolen-virtual-remote" --script "$dir/script.txt" --log "$dir/remote.log" 2>"$dir/remote.err" & remote=$!
    until first_node || (($(now_ms) > began + 5000)); do :; done
    appeared=$(now_ms) && note node "$node"
  fi
  # The driver's own start-up ends with its third status request.
  [[ $start:$driver != @(settled|wine):wiimote ]] || wait_until 2000 was_sent "15 00" 3
  case $start in
    settled|at-node) timeout 25 "$build/tavolen" --record "$dir/tavolen.rec" 2>"$dir/tavolen.err" & ;;
    nonroot) timeout 25 setpriv --reuid=65534 --regid=65534 --clear-groups env -u DISPLAY "$build/tavolen" 2>"$dir/tavolen.err" & ;;
    wine) before_tavolen_exe; timeout 40 wine /tmp/wine/tavolen.exe --record "Z:$dir/tavolen.rec" 2>"$dir/tavolen.err" & ;;
    wine-replay) timeout 40 wine /tmp/wine/tavolen-sim.exe --script "Z:/tmp/rows/$script/tavolen.rec" --log "Z:$dir/remote.log" 2>"$dir/tavolen.err" & ;;
  esac
  [ "$start" = - ] || tavolen=$!
  [ "$action" = - ] || "$action"
  if [ -n "$tavolen" ]; then  # a missed probe leaves an error box open: closed here
    wait_until 25000 tavolen_done && kill -TERM "$tavolen" 2>/dev/null
    note ended_at "$(since_node)"
    wait "$tavolen"; echo $? >"$dir/tavolen.code"
  fi
  [ -z "$remote" ] || { kill -TERM "$remote" 2>/dev/null; wait "$remote"; note remote_code $?; }
  [ -z "$watcher" ] || kill "$watcher" 2>/dev/null
  note row_ms $(($(now_ms) - began))
  wait_until 2000 eval '! first_node'  # the node goes with the device, before the next row
  cp -r "$dir" "$out/"
}
# Tavolen's 100 ms probe can miss when the host leaves the emulated processors
# waiting: the row once more then, and the miss said beside it.
take_row() {
  run_row
  probe_missed && run_row && note probe_missed_first 1
  cp "$dir/facts" "$out/$name/"
}

echo "guest: rows start at $(cut -d' ' -f1 /proc/uptime) s of uptime"
for module in uhid hid_wiimote evdev; do modprobe -d "$kernel" $module; done
loaded=wiimote
# The first start of a program reads it and its libraries over 9p: not in a row.
"$build/tavolen" --version >/dev/null && "$build/tavolen-virtual-remote" --version >/dev/null
Xvfb :7 -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 & xvfb=$!
wait_until 10000 test -e /tmp/.X11-unix/X7
[ -z "$windows" ] || { start_wine && echo "guest: Wine ready at $(cut -d' ' -f1 /proc/uptime) s of uptime"; }
each_row take_row
kill $xvfb
cut -d' ' -f1 /proc/uptime >"$out/done"
