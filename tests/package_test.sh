#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a fresh tree and runs the
# installed program from there.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Under umask 077, so that modes in the package cannot come from the builder's.
(cd "$build" && umask 077 && cpack -G DEB -B "$work/pkg" >"$work/cpack.out" 2>&1) ||
  { cat "$work/cpack.out"; fail "cpack"; }
deb=$(ls "$work"/pkg/*.deb)

# Debian's own checker: any error (E:) or warning (W:) fails; information
# (I:) and pedantic tags do not.
lintian --fail-on error,warning "$deb" >"$work/lintian.out" 2>&1 ||
  fail "lintian: $(grep -v 'running with root privileges' "$work/lintian.out")"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libhidapi-hidraw0 libsdl2-2.0-0; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

# Every architecture's package holds these files, with these modes, and no others.
files='-rwxr-xr-x ./usr/bin/tavolen
-rwxr-xr-x ./usr/bin/tavolen-sim
-rwxr-xr-x ./usr/bin/tavolen-virtual-remote
-rw-r--r-- ./usr/lib/udev/rules.d/60-tavolen.rules
-rw-r--r-- ./usr/share/applications/tavolen.desktop
-rw-r--r-- ./usr/share/doc/tavolen/changelog.gz
-rw-r--r-- ./usr/share/doc/tavolen/copyright
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/tavolen.svg
-rw-r--r-- ./usr/share/man/man1/tavolen-sim.1.gz
-rw-r--r-- ./usr/share/man/man1/tavolen-virtual-remote.1.gz
-rw-r--r-- ./usr/share/man/man1/tavolen.1.gz'
listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $6 }')
[ "$listed" = "$files" ] || fail "the package's files differ: $(diff <(echo "$files") <(echo "$listed") | grep '^[<>]' | tr '\n' ' ')"
root=$work/root
dpkg -x "$deb" "$root"
said=$("$root/usr/bin/tavolen" --version) || fail "installed tavolen --version ended with $?"
[ "$said" = "tavolen $(dpkg-deb -f "$deb" Version)" ] || fail "installed tavolen --version says: $said"

version=$(dpkg-deb -f "$deb" Version)
latest=$(zcat "$root/usr/share/doc/tavolen/changelog.gz" | head -n 1)
[[ $latest == "tavolen ($version) "* ]] || fail "the changelog's latest entry is not $version: $latest"

# Both programs' pages render, without warnings, as Tavolen's page.
for page in tavolen tavolen-sim tavolen-virtual-remote; do
  text=$(LC_ALL=C MANPATH=$root/usr/share/man man --warnings "$page" 2>"$work/man.err") ||
    fail "man $page: $(cat "$work/man.err")"
  [ ! -s "$work/man.err" ] || fail "man $page renders with warnings: $(cat "$work/man.err")"
  [[ $text == "TAVOLEN(1)"* ]] || fail "man $page is not Tavolen's page: ${text:0:80}"
done

# A short run of the installed program on an X server of its own that ends
# with HOME, meeting a lock of its own, not the user's.
mkdir -m 700 "$work/runtime"
private_lock() { "$build/tests/private-lock-place" "$work/runtime" "$@"; }
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" & xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.err")"
printf '0 ir 1 300 200\n1500 buttons 00 80\n' >"$work/home.txt"
status=0
DISPLAY=:$(head -n1 "$work/display") private_lock timeout 20 "$root/usr/bin/tavolen-sim" \
  --script "$work/home.txt" --log "$work/home.log" 2>"$work/home.err" || status=$?
[ "$status" -eq 0 ] || fail "installed tavolen-sim ended with $status: $(cat "$work/home.err")"
[ "$(tail -n 2 "$work/home.log" | cut -d' ' -f2-)" = $'12 00 30\nclose' ] ||
  fail "the run did not end with 12 00 30 and close: $(tail -n 3 "$work/home.log")"

# A remote that may not be opened: the message names the rule installed beside
# the program.
printf 'denied\n' >"$work/denied.txt"
status=0
SDL_VIDEODRIVER=offscreen private_lock timeout 20 "$root/usr/bin/tavolen-sim" \
  --script "$work/denied.txt" 2>"$work/denied.err" || status=$?
[ "$status" -eq 1 ] || fail "a denied remote ended with $status"
rule=$(cd "$root/usr/lib/udev/rules.d" && pwd -P)/60-tavolen.rules
grep -qF "$rule" "$work/denied.err" || fail "the message does not name $rule: $(cat "$work/denied.err")"
echo "package test passed: $(basename "$deb")"
