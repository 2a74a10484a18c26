#!/usr/bin/env bash
# Installs the built tree under a throw-away prefix and runs it from there:
# the programs must find their libraries, resource library and manual pages
# without the build tree. Usage: install-tree.sh BUILD_DIR LIBDIR MANDIR
set -euo pipefail
build=$1 libdir=$2 mandir=$3
top=$(mktemp -d "${TMPDIR:-/tmp}/harrow-install-XXXXXX")
trap 'rm -rf "$top"' EXIT
prefix=$top/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/HarrowCLI "$libdir/libOrbCore.so" "$libdir/libHarrowPlatform.so" "$libdir/harrow/libresdll.so" \
            "$libdir/harrow/liborbamiraid.so"; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
# The windowed program's own test plug-in, where the installed program looks for it.
if [ -f "$build/oemtest/liboemtest.so" ]; then
  [ -f "$prefix/$libdir/harrow/liboemtest.so" ] || fail "the OEM test plug-in is not installed"
fi
if readelf -d "$prefix/bin/HarrowCLI" "$prefix/$libdir/libHarrowPlatform.so" | grep -F -- "$build"; then
  fail "an installed run path names the build tree"
fi

# The built-in machine, with a home of its own and nothing of the build's environment.
mkdir -p "$top/home" "$top/work"
cd "$top/work"
status=0
out=$(env -i PATH=/usr/bin:/bin HOME="$top/home" timeout 60 "$prefix/bin/HarrowCLI" -l 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "HarrowCLI -l ended with $status: $out"
grep -q "Device(s) found during bus scan" <<<"$out" || fail "no device listing: $out"
grep -q "KESTREL" <<<"$out" || fail "the built-in Kestrel drive is not listed: $out"
[ -s HarrowCLI.log ] || fail "no log file in the working folder"

for page in HarrowCLI Harrow OrbInst WinRestart; do
  file=$prefix/$mandir/man1/$page.1.gz
  [ -f "$file" ] || fail "$page.1.gz is not installed"
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=all -l "$file" 2>"$top/man.err") || fail "man -l $page failed"
  [ ! -s "$top/man.err" ] || fail "man -l $page warns: $(cat "$top/man.err")"
  for section in NAME SYNOPSIS OPTIONS "EXIT STATUS" FILES ENVIRONMENT EXAMPLES; do
    grep -q "^$section" <<<"$text" || fail "$page has no $section section"
  done
done
echo "installed tree under $prefix runs"
