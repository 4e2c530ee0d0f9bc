#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a fresh tree and runs the
# installed program from there.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.out" 2>&1) || { cat "$work/cpack.out"; fail "cpack"; }
deb=$(ls "$work"/pkg/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for library in libhidapi-hidraw0 libsdl2-2.0-0; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
for file in usr/bin/tavolen usr/bin/tavolen-sim usr/lib/udev/rules.d/60-tavolen.rules \
            usr/share/applications/tavolen.desktop \
            usr/share/icons/hicolor/scalable/apps/tavolen.svg usr/share/man/man1/tavolen.1; do
  [ -e "$root/$file" ] || fail "not installed: /$file"
done

warnings=$(man --warnings -l "$root/usr/share/man/man1/tavolen.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"

# A short run of the installed program that ends with HOME.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '0 ir 1 300 200\n1500 buttons 00 80\n' >"$work/home.txt"
status=0
SDL_VIDEODRIVER=offscreen timeout 20 "$root/usr/bin/tavolen-sim" \
  --script "$work/home.txt" --log "$work/home.log" 2>"$work/home.err" || status=$?
[ "$status" -eq 0 ] || fail "installed tavolen-sim ended with $status: $(cat "$work/home.err")"
[ "$(tail -n 2 "$work/home.log" | cut -d' ' -f2-)" = $'12 00 30\nclose' ] ||
  fail "the run did not end with 12 00 30 and close: $(tail -n 3 "$work/home.log")"

# A remote that may not be opened: the message names the rule installed beside
# the program.
printf 'denied\n' >"$work/denied.txt"
status=0
SDL_VIDEODRIVER=offscreen timeout 20 "$root/usr/bin/tavolen-sim" \
  --script "$work/denied.txt" 2>"$work/denied.err" || status=$?
[ "$status" -eq 1 ] || fail "a denied remote ended with $status"
rule=$(cd "$root/usr/lib/udev/rules.d" && pwd -P)/60-tavolen.rules
grep -qF "$rule" "$work/denied.err" || fail "the message does not name $rule: $(cat "$work/denied.err")"
echo "package test passed: $(basename "$deb")"
