#!/usr/bin/env bash
# The service's pass and the logon tool's running at the same time in two processes, many
# times, on one registry file and one log: see PassRunner.cpp for what is checked.
#   concurrent-passes.sh PASS_RUNNER PASSES_EACH [legacy|current]
set -euo pipefail
runner=$1
passes=$2
machine=${3:-legacy}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$runner" seed "$dir/registry.reg" "$dir/dorvane.log" --machine "$machine"
export HOST_REGISTRY_FILE=$dir/registry.reg
"$runner" run service "$passes" --machine "$machine" &
service=$!
"$runner" run logon "$passes" --machine "$machine" &
logon=$!
wait "$service"
wait "$logon"
unset HOST_REGISTRY_FILE
"$runner" check "$dir/registry.reg" "$dir/dorvane.log" $((2 * passes)) --machine "$machine"
