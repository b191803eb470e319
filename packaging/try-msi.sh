#!/usr/bin/env bash
# Tries the MSI package by hand under Wine, in a throwaway prefix, and shows what each step
# leaves behind (files, service key and state, Run value, event source, installed products,
# the first pass's log and backup key):
#
#   1. install the package of the build;
#   2. upgrade to the same programs packaged as a higher version;
#   3. try a lower version (refused: exit status 1603, shown by Wine as 67);
#   4. uninstall, and show that the policy and the backup key are still there.
#
#   packaging/try-msi.sh [--keep] [BUILD_DIR]      BUILD_DIR defaults to build/windows
#
# The prefix gets the default power schemes, the example policy and, for the service, the
# stand-in power profile (Wine's own is a stub). --keep leaves the prefix and its session
# running afterwards and prints how to use it; end it with `WINEPREFIX=... wineserver -k`.
# Not a test: it shows, it does not judge.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
keep=0
if [ "${1:-}" = --keep ]; then keep=1; shift; fi
build=$(cd "${1:-$repo/build/windows}" && pwd)

msi=$(ls "$build"/packaging/Dorvane-*-x64.msi 2>/dev/null | head -n 1)
[ -n "$msi" ] || { echo "no package in $build/packaging: build the windows preset" >&2; exit 2; }
version=$(basename "$msi" | sed -E 's/^Dorvane-(.*)-x64\.msi$/\1/')
IFS=. read -r major minor patch <<<"$version"

. "$repo/scripts/wine-env.sh"
work=$(mktemp -d /tmp/dorvane-msi-try.XXXXXX)
cleanup() {
  rm -rf "$work"
  if [ "$keep" = 1 ]; then
    echo "== prefix kept: export WINEPREFIX=$WINEPREFIX"
  else
    wine_prefix_stop
  fi
}
trap cleanup EXIT

# Packages one version above and below, from the same programs.
for other in higher:$((patch + 1)) lower:$((patch - 1)); do
  python3 "$here/build-msi.py" --version "$major.$minor.${other#*:}" \
    --hollin "$build/service/Hollin.exe" --logon-tool "$build/logontool/Dorvane_Tool.exe" \
    --constants "$repo/service/HollinConstants.h" --output "$work/${other%%:*}.msi"
done

unset WINEPREFIX
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_prefix_start
echo "== Wine prefix $WINEPREFIX"
wine() { "$WINE64" "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
system32=$WINEPREFIX/drive_c/windows/system32
cp "$build/platform/powrprof.dll" "$system32/powrprof.dll"
wine reg add 'HKCU\Software\Wine\AppDefaults\Hollin.exe\DllOverrides' /v powrprof \
  /t REG_SZ /d native,builtin /f >/dev/null
wine regedit /S "$(winepath_of "$repo/tests/fixtures/default-schemes.reg")"
wine regedit /S "$(winepath_of "$repo/examples/example-policy.reg")"

msiexec() {  # msiexec WHAT ARGS...: runs msiexec and prints its exit status
  local what=$1 status=0
  shift
  wine msiexec "$@" || status=$?
  echo "== $what: msiexec $* -> exit status $status"
}
show() (
  set +e +o pipefail
  echo "-- files:"
  ls -l "$system32/Hollin.exe" "$system32/Dorvane_Tool.exe" 2>&1 | sed 's/^/   /'
  echo "-- service:"
  wine reg query 'HKLM\System\CurrentControlSet\Services\Ulmora_Tarn_Hollin' 2>&1 | sed 's/^/   /'
  wine sc query Ulmora_Tarn_Hollin | grep -E 'STATE|FAILED' | sed 's/^/   /'
  echo "-- Run value:"
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Ulmora_Dorvane_Tool 2>&1 |
    grep -E 'Ulmora|Unable' | sed 's/^/   /'
  echo "-- event source:"
  wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\PMevents' 2>&1 |
    grep -E 'REG_|Unable' | sed 's/^/   /'
  echo "-- installed products:"
  local products
  products=$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    grep -E 'DisplayName|DisplayVersion')
  echo "${products:-none}" | sed 's/^/   /'
)
# The service runs a pass two seconds after each start. Each step that starts the service
# waits here for that pass to append to the log, so what is shown next is the pass's.
log=$WINEPREFIX/drive_c/windows/temp/Dorvane.log
log_size() { stat -c %s "$log" 2>/dev/null || echo 0; }
wait_for_pass() {  # wait_for_pass SIZE_BEFORE
  for _ in $(seq 50); do
    [ "$(log_size)" -gt "$1" ] && return 0
    sleep 0.2
  done
  echo "   (no pass within 10 seconds)"
}

before=$(log_size)
msiexec "install $version" /i "$(winepath_of "$msi")" /qn
show
wait_for_pass "$before"
echo "-- log of the first pass:"
tr -d '\r' <"$log" | sed 's/^/   /'

before=$(log_size)
msiexec "upgrade to $major.$minor.$((patch + 1))" /i "$(winepath_of "$work/higher.msi")" /qn
show
wait_for_pass "$before"

msiexec "downgrade to $major.$minor.$((patch - 1))" /i "$(winepath_of "$work/lower.msi")" /qn
show

msiexec "uninstall" /x "$(winepath_of "$work/higher.msi")" /qn
show
echo "-- the administrator's keys:"
wine reg query 'HKLM\Software\Policies\Velmorant\Dorvane' /v Control | grep Control | sed 's/^/   /'
backup=$(wine reg query 'HKLM\Software\Velmorant\Dorvane\Backup' | grep -c REG_DWORD)
echo "   backup values: $backup"
