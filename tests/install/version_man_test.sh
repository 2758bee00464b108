#!/usr/bin/env bash
# qel-screen --version names the tool and the plug-in it would load; the
# manual pages built from their sources render with man.
# usage: version_man_test.sh BUILD-DIR
set -euo pipefail
build=$(realpath "$1")
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$("$build/bin/qel-screen" --version)
grep -qx "qel-screen [0-9][0-9.]*" <<<"$out" || fail "no tool version in: $out"
grep -q "^plug-in qel-screening-sccp 2\.0\.0 (.*qel-screening-sccp\.so)$" <<<"$out" \
  || fail "no plug-in name and version in: $out"

# Without a plug-in next to it the tool still names itself and says why.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/lib"
cp "$build/bin/qel-screen" "$work/bin/"
out=$(LD_LIBRARY_PATH=$build/lib "$work/bin/qel-screen" --version) || fail "--version failed without a plug-in"
grep -q "^qel-screen " <<<"$out" && grep -q "^plug-in not loaded: .*qel-screening-sccp.so" <<<"$out" \
  || fail "no reason for the missing plug-in in: $out"

if command -v man >/dev/null; then
  for page in qel-screen.1 qel-screening-sccp.5; do
    [[ -s $build/man/$page ]] || fail "$page was not built"
    text=$(MANWIDTH=80 man -l "$build/man/$page" 2>&1)
    grep -q "^NAME" <<<"$text" && grep -q "^SEE ALSO" <<<"$text" || fail "$page does not render"
  done
  grep -q "denied-global-operation" <<<"$(man -l "$build/man/qel-screening-sccp.5" 2>/dev/null)" \
    || fail "the configuration page misses a key"
fi
echo "version and manual pages: fine"
