#!/usr/bin/env bash
# ShowSchemes on three registry files: the default schemes (six rows, status 0), an empty
# registry (no scheme store: status 1) and a file in a folder that does not exist (status 1,
# and the folder named on stderr). Each runs on a copy in a folder of its own.
#
#   showschemes-exit-status.sh SHOWSCHEMES DEFAULT-SCHEMES.REG
set -uo pipefail

showschemes=$1
fixture=$2
work=$(mktemp -d /tmp/dorvane-showschemes.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

# expect NAME STATUS PATTERN REGISTRY-FILE: runs ShowSchemes on the file and checks its exit
# status and that its output (stdout and stderr) matches the extended regular expression.
expect() {
  local name=$1 status=$2 pattern=$3 file=$4 out got
  out=$(HOST_REGISTRY_FILE=$file "$showschemes" 2>&1)
  got=$?
  if [ "$got" -ne "$status" ] || ! grep -Eq -- "$pattern" <<<"$out"; then
    echo "FAIL $name: exit status $got (expected $status), output:"
    printf '%s\n' "$out"
    failures=$((failures + 1))
  fi
}

cp "$fixture" "$work/schemes.reg"
expect "default schemes" 0 '^\*  0  Home/Office Desk' "$work/schemes.reg"
rows=$(HOST_REGISTRY_FILE=$work/schemes.reg "$showschemes" | grep -cE '^[ *] +[0-9]+  ')
[ "$rows" = 6 ] || { echo "FAIL default schemes: $rows rows, expected 6"; failures=$((failures + 1)); }

: >"$work/empty.reg"
expect "empty registry" 1 'no scheme can be read' "$work/empty.reg"
expect "missing folder" 1 "the folder $work/missing does not exist" "$work/missing/registry.reg"

[ "$failures" -eq 0 ] && echo "ShowSchemes: all cases passed"
exit $((failures > 0))
