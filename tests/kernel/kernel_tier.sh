#!/usr/bin/env bash
# The kernel tier: Debian's packaged kernel in qemu (no KVM) runs the real tavolen against
# tavolen-virtual-remote behind /dev/uhid, beside its hid-wiimote driver: the rows of rows.txt
# in one boot (guest_rows.sh), judged here (judge.sh). --windows: the rows of tavolen.exe on
# Wine's HID stack there, against the virtual remote of the Linux build.
#   kernel_tier.sh [--windows WINDOWS_BUILD_DIR] BUILD_DIR [ROW,ROW...]
set -euo pipefail
windows=""
if [ "${1:-}" = --windows ]; then windows=$(cd "$2" && pwd -P) && shift 2; fi
build=$(cd "$1" && pwd -P) only=${2:-all} here=$(cd "$(dirname "$0")" && pwd -P)
source=$(cd "$here/../.." && pwd -P)
work=${windows:-$build}/kernel-tier  # the programs tested: their results go there
cache=$build/kernel-tier/cache results=$work/results
fail() { echo "kernel tier: FAIL: $*" >&2; exit 1; }
elapsed() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
started=$(date +%s.%N)

for tool in qemu-system-x86_64 depmod dpkg-deb apt-get; do
  command -v $tool >/dev/null || fail "$tool is missing: run scripts/setup.sh (it installs qemu-system-x86, busybox-static and kmod)"
done
dpkg-query -W -f='${Status}' busybox-static 2>/dev/null | grep -q 'ok installed' || fail "busybox-static is missing: run scripts/setup.sh"
[ -x "$build/tavolen-virtual-remote" ] && { [ -n "$windows" ] || [ -x "$build/tavolen" ]; } || fail "build the programs first: cmake --build $build"
[[ $build$source$windows != *[[:space:]]* ]] || fail "the paths may hold no blanks: $build $windows"
if [ -n "$windows" ]; then
  for tool in wine xdotool; do command -v $tool >/dev/null || fail "$tool is missing: run scripts/windows.sh"; done
  [ -f "$windows/tavolen.exe" ] && [ -f "$windows/tavolen-sim.exe" ] || fail "build the Windows programs first: scripts/windows.sh"
  # The guest's Wine prefix: the Wine session's, packed to be unpacked into its memory.
  "$here/../../scripts/wine-session.sh" pack "$windows" "$work/prefix.tar" || fail "no Wine prefix to pack"
fi

# The kernel's package, fetched once into the build tree, never installed.
mkdir -p "$cache"
versioned() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'; }
package=$(versioned)
package=${package:-$(cd "$cache" && ls -d linux-image-*-amd64 2>/dev/null | tail -n 1)}
[ -n "$package" ] || { apt-get update -qq && package=$(versioned); }
[ -n "$package" ] || fail "apt knows no linux-image-amd64 (apt-get update) and $cache holds none"
kernel=$cache/$package
if [ ! -e "$kernel/.unpacked" ]; then
  ls "$cache/${package}_"*.deb >/dev/null 2>&1 || (cd "$cache" && apt-get download "$package" 2>&1 | grep -v unsandboxed) ||
    fail "apt-get download $package"
  rm -rf "$kernel" && dpkg-deb -x "$(ls "$cache/${package}_"*.deb | tail -n 1)" "$kernel"
  depmod -b "$kernel" "$(ls "$kernel/lib/modules")" && touch "$kernel/.unpacked"
fi
version=$(ls "$kernel/lib/modules")

# The initramfs: busybox, /init and the modules that reach the 9p shares.
initramfs=$work/initramfs
rm -rf "$initramfs" && mkdir -p "$initramfs"/{bin,modules,proc,sys,dev,mnt}
cp /bin/busybox "$initramfs/bin/" && cp "$here/guest_init.sh" "$initramfs/init"
order=10
for module in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache 9pnet 9pnet_virtio 9p; do
  cp "$(find "$kernel/lib/modules" -name "$module.ko")" "$initramfs/modules/$((order++))-$module.ko"
done
(cd "$initramfs" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$work/initrd.gz")

rm -rf "$results" && mkdir -p "$results"
# The host's root, and the trees the rows use as shares of their own: the
# guest's /tmp is its own, and a clone in the host's /tmp would be hidden.
share() { echo "local,path=$1,mount_tag=$2,security_model=none,multidevs=remap${3:+,readonly=on}"; }
shares=(-virtfs "$(share / hostroot ro)" -virtfs "$(share "$source" source ro)" -virtfs "$(share "$build" build)")
[ -z "$windows" ] || shares+=(-virtfs "$(share "$windows" windows)")
booted=$(date +%s.%N) status=0
timeout 175 qemu-system-x86_64 -accel tcg -m 1024 -smp 2 -nographic -no-reboot -nic none \
  -kernel "$kernel/boot/vmlinuz-$version" -initrd "$work/initrd.gz" "${shares[@]}" \
  -append "console=ttyS0 quiet panic=-1 -- $source $build $kernel $only $windows" \
  </dev/null >"$work/console.log" 2>&1 || status=$?
[ -s "$results/done" ] || { tail -n 30 "$work/console.log"; fail "the guest did not finish its rows (qemu: $status, 124 is 175 s)"; }
echo "kernel tier: $package; boot to the first row $(sed -n 's/.*rows start at \([0-9.]*\) s.*/\1/p' "$work/console.log") s,${windows:+" Wine ready at $(sed -n 's/.*Wine ready at \([0-9.]*\) s.*/\1/p' "$work/console.log") s,"}" \
  "the guest's run $(elapsed "$booted") s"

set +e  # a check that finds nothing is no error
source "$here/judge.sh"
failed=0 judged=0
judge_row() {
  dir=$results/$name failures="" figures=""
  if [ -s "$dir/facts" ]; then eval "$checks"; else failures="the row did not run"; fi
  # Every row's remote ends cleanly on SIGTERM, or at its disconnect; a replay has none.
  [ "$start" = wine-replay ] || fact_has remote_code 0
  [ -z "$(fact wine_took)" ] || fact_within wine_took 5000 "Wine had the node after"
  [ -z "$(fact shown_at)" ] || figures+="window shown at $(at shown_at) ms; "
  [ -z "$(fact probe_missed_first)" ] || figures+="run twice, tavolen's first probe missed; "
  ((judged += 1, failed += ${#failures} > 0))
  printf '%-15s %s %5s s  %s%s\n' "$name" "$([ -z "$failures" ] && echo PASS || echo FAIL)" \
    "$(awk -v ms="$(fact row_ms)" 'BEGIN { printf "%.1f", ms / 1000 }')" "$figures" "${failures:+ FAILED: $failures}"
}
each_row judge_row
echo "kernel tier: $((judged - failed)) of $judged rows passed in $(elapsed "$started") s; each row's files are in $results"
((judged > 0 && failed == 0)) || fail "$failed of $judged rows failed"
