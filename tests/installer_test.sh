#!/usr/bin/env bash
# Builds the Windows installer, installs it silently under Wine, runs the
# installed tavolen-sim.exe with a HOME press, and uninstalls it.
#   installer_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build=$(cd "$2" && pwd)
work=$(mktemp -d)
session=$source_dir/scripts/wine-session.sh
prefix=$build/wine/prefix
folder=tavolen-installer-test-$$
installed=$prefix/drive_c/$folder
trap 'rm -rf "$work" "$installed"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -B "$work/pkg" >"$work/cpack.out" 2>&1) || { cat "$work/cpack.out"; fail "cpack"; }
installer=$(ls "$work"/pkg/tavolen-*-win64.exe)
ls "$work"/pkg/tavolen-*-win64.zip >/dev/null || fail "no ZIP next to $installer"

# /D= comes last, the path unquoted inside the argument.
"$session" run "$build" "$installer" /S "/D=C:\\$folder" || fail "the installer ended with $?"
for file in bin/tavolen.exe bin/tavolen-sim.exe Uninstall.exe; do
  [ -f "$installed/$file" ] || fail "$file not installed"
done
shortcut=$(find "$prefix/drive_c" -path '*Start Menu*' -name 'Tavolen.lnk' | head -n1)
[ -n "$shortcut" ] || fail "no Start-menu entry Tavolen"

printf '0 ir 1 300 200\n1000 buttons 00 80\n' >"$work/home.txt"
code=0
"$session" run "$build" "$installed/bin/tavolen-sim.exe" --script "$work/home.txt" \
  --log "$work/run.log" 2>"$work/run.err" || code=$?
[ "$code" -eq 0 ] || fail "the installed tavolen-sim.exe ended with $code: $(cat "$work/run.err")"
tail -n2 "$work/run.log" | cut -d' ' -f2- >"$work/ending"
printf '12 00 30\nclose\n' | cmp -s - "$work/ending" || fail "the log ends with: $(cat "$work/ending")"

# The uninstaller returns at once and removes the files from a copy of itself.
"$session" run "$build" "$installed/Uninstall.exe" /S || fail "the uninstaller ended with $?"
for _ in $(seq 100); do
  [ -e "$installed/bin/tavolen.exe" ] || [ -e "$shortcut" ] || break
  sleep 0.2
done
[ ! -e "$installed/bin/tavolen.exe" ] || fail "the uninstaller left bin/tavolen.exe"
[ ! -e "$shortcut" ] || fail "the uninstaller left the Start-menu entry"
echo "installed, ran and uninstalled $(basename "$installer")"
