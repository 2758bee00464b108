#!/usr/bin/env bash
# The generated bash completion, driven as bash drives it: COMP_WORDS and
# COMP_CWORD set, the function called, COMPREPLY compared.
# usage: completion_test.sh COMPLETION-FILE
set -uo pipefail
# shellcheck disable=SC1090
source "$1"
compopt() { :; }  # only meaningful inside a real completion
failures=0

expect() {  # expect "WORDS ..." "EXPECTED REPLIES" (the last word is the one completed)
  read -ra COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _qel_screen
  local got="${COMPREPLY[*]}"
  if [[ $got != "$2" ]]; then
    echo "FAIL: '$1' completed to '$got', expected '$2'" >&2
    failures=$((failures + 1))
  fi
}

expect "qel-screen " "screen decode diff check"
expect "qel-screen sc" "screen"
expect "qel-screen --v" "--version"
expect "qel-screen screen --o" "--only"
expect "qel-screen screen --ex" "--explain"
expect "qel-screen screen --format " "text jsonl"
expect "qel-screen decode --format j" "jsonl"
expect "qel-screen screen --only expl" "explicitlyPermitted explicitlyDenied"
expect "qel-screen screen --only explicitlyDenied,impl" \
  "explicitlyDenied,implicitlyPermitted explicitlyDenied,implicitlyDenied"
expect "qel-screen screen --only und" "undefined undecodable"
expect "qel-screen check --" "--help"
expect "qel-screen decode --" "--help --format --hex --color --threads"
expect "qel-screen screen --th" "--threads"
expect "qel-screen diff --th" "--threads"
# Values that are files complete as files.
cd "$(mktemp -d)" && touch rules.toml && trap 'rm -rf "$PWD"' EXIT
expect "qel-screen screen --config ru" "rules.toml"
expect "qel-screen check ru" "rules.toml"

((failures == 0)) && echo "completion: all cases pass"
exit $((failures > 0))
