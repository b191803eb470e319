#!/usr/bin/env bash
# Hollin as a real service under Wine's service control manager: "/Install" registers the
# logon tool and creates and starts the service, whose first pass applies the policy two
# seconds later; a second "/Install" fails on the existing service; "/Uninstall" stops and
# deletes it and leaves the Run value; "/install" in lower case is no command at all.
#
#   run-service-test.sh --hollin EXE --logontool EXE --powrprof DLL --schemes REG --policy REG
#
# Always makes its own throwaway Wine prefix, also when WINEPREFIX is set (scripts/test sets
# one): an automatically starting service would start again in every later session of a
# shared prefix, and the service's debug output can only be caught from the session's start.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

hollin= logontool= powrprof= schemes= policy=
while [ $# -gt 0 ]; do
  case $1 in
    --hollin) hollin=$2 ;;
    --logontool) logontool=$2 ;;
    --powrprof) powrprof=$2 ;;
    --schemes) schemes=$2 ;;
    --policy) policy=$2 ;;
    *) echo "run-service-test.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done
for f in "$hollin" "$logontool" "$powrprof" "$schemes" "$policy"; do
  [ -f "$f" ] || { echo "run-service-test.sh: missing file: '$f'" >&2; exit 2; }
done

. "$repo/scripts/wine-env.sh"

service=Ulmora_Tarn_Hollin
service_key='HKLM\System\CurrentControlSet\Services\Ulmora_Tarn_Hollin'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
options_key='HKLM\Software\Policies\Velmorant\Dorvane\Options'
backup_key='HKLM\Software\Velmorant\Dorvane\Backup'
hollin_win='C:\windows\system32\Hollin.exe'

work=$(mktemp -d /tmp/hollin-service.XXXXXX)
installed=0
cleanup() {
  set +e
  # A service left behind would start again with the prefix's next session.
  if [ "$installed" = 1 ]; then
    "$WINE64" sc stop "$service" >/dev/null 2>&1
    "$WINE64" sc delete "$service" >/dev/null 2>&1
  fi
  wine_prefix_stop
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  if [ -n "${DORVANE_WINE_SESSION_LOG:-}" ] && [ -f "$DORVANE_WINE_SESSION_LOG" ]; then
    echo "--- debug output of the session"
    debug_texts <"$DORVANE_WINE_SESSION_LOG"
  fi
  [ -f "${log_file:-}" ] && { echo "--- $log_file"; tr -d '\r' <"$log_file"; }
  exit 1
}

# Every OutputDebugStringA shows on the stderr of the process that made it, and a service's
# on the stderr of the session's first command, which wine_prefix_start sends to
# $DORVANE_WINE_SESSION_LOG. No other channel is on, so each program's stderr holds its own
# debug texts alone.
unset WINEPREFIX
export WINEDEBUG=-all,warn+debugstr
# Not powrprof: the service cannot be given an environment of its own, so it takes the
# stand-in power profile through its own DllOverrides key below, as an installation would.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_prefix_start
echo "== Wine prefix $WINEPREFIX (${SECONDS}s)"

# The debug texts in a stream of Wine's debug lines, one a line, without the quotes.
debug_texts() {
  tr -d '\r' | sed -n 's/^[0-9a-f]*:warn:debugstr:OutputDebugStringA "\(.*\)"$/\1/p'
}
wine() { "$WINE64" "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
# One value's data as reg prints it (the type is not part of it).
value_of() {
  wine reg query "$1" /v "$2" | awk -v name="$2" -F '    ' '$2 == name { print $4 }'
}
# Runs Hollin.exe from the system directory; its exit status goes to $work/NAME.status,
# its stdout to NAME.out, its debug texts to NAME.debug.
hollin() {
  local name=$1
  shift
  set +e
  "$WINE64" "$hollin_win" "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.status"
  set -e
  debug_texts <"$work/$name.err" >"$work/$name.debug"
}
expect_run() {  # expect_run NAME STATUS [debug texts...]
  local name=$1 status=$2
  shift 2
  [ "$(cat "$work/$name.status")" = "$status" ] ||
    fail "$name: exit status $(cat "$work/$name.status"), expected $status"
  [ ! -s "$work/$name.out" ] || fail "$name printed: $(cat "$work/$name.out")"
  local expected=
  [ $# -eq 0 ] || expected=$(printf '%s\n' "$@")
  [ "$(cat "$work/$name.debug")" = "$expected" ] ||
    fail "$name: debug texts '$(cat "$work/$name.debug")', expected '$expected'"
  echo "$name: exit status $status, debug texts: ${*:-none}"
}

echo "== setup (${SECONDS}s)"
system32=$WINEPREFIX/drive_c/windows/system32
cp "$hollin" "$system32/Hollin.exe"
cp "$logontool" "$system32/Dorvane_Tool.exe"
cp "$powrprof" "$system32/powrprof.dll"
wine reg add 'HKCU\Software\Wine\AppDefaults\Hollin.exe\DllOverrides' /v powrprof \
  /t REG_SZ /d native,builtin /f >/dev/null
wine regedit /S "$(winepath_of "$schemes")" || fail "regedit of the schemes"
wine regedit /S "$(winepath_of "$policy")" || fail "regedit of the policy"
# A log path of our own, with a variable for the service to expand.
wine reg add "$options_key" /v LogFile /t REG_EXPAND_SZ /d '%SystemRoot%\hollin-test.log' \
  /f >/dev/null
log_file=$WINEPREFIX/drive_c/windows/hollin-test.log
scheme0='HKCU\Control Panel\PowerCfg\PowerPolicies\0'
user_half_before=$(value_of "$scheme0" Policies)
[ ${#user_half_before} = 160 ] || fail "user half of scheme 0 before: '$user_half_before'"

echo "== /install in lower case: no command (${SECONDS}s)"
# The dispatcher call fails, as nothing started the program as a service; it ends quietly.
hollin lowercase /install
expect_run lowercase 0
wine reg query "$service_key" >/dev/null 2>&1 && fail "/install created the service"
[ -z "$(value_of "$run_key" Ulmora_Dorvane_Tool)" ] || fail "/install wrote the Run value"

echo "== /Install (${SECONDS}s)"
hollin install /Install extra arguments
installed=1
expect_run install 0

# The registration: automatic start, own process, the program in quotes in the system
# directory, the local system account.
[ "$(value_of "$service_key" Start)" = 0x2 ] || fail "Start: $(value_of "$service_key" Start)"
[ "$(value_of "$service_key" Type)" = 0x10 ] || fail "Type: $(value_of "$service_key" Type)"
[ "$(value_of "$service_key" ErrorControl)" = 0x0 ] || fail "ErrorControl"
image_path=$(value_of "$service_key" ImagePath)
[ "$image_path" = "\"$hollin_win\"" ] || fail "ImagePath: $image_path"
display_name=$(value_of "$service_key" DisplayName)
[ "$display_name" = "Solvenne(TM) Dorvane Power Management Configuration Tool" ] ||
  fail "DisplayName: $display_name"
[ "$(value_of "$service_key" ObjectName)" = LocalSystem ] || fail "ObjectName"
echo "service key: Start 2, Type 0x10, ImagePath $image_path, LocalSystem"

run_type=$(wine reg query "$run_key" /v Ulmora_Dorvane_Tool |
  awk -F '    ' '$2 == "Ulmora_Dorvane_Tool" { print $3 }')
run_value=$(value_of "$run_key" Ulmora_Dorvane_Tool)
[ "$run_type $run_value" = 'REG_EXPAND_SZ C:\windows\system32\Dorvane_Tool.exe' ] ||
  fail "Run value: $run_type $run_value"
echo "Run value: $run_type $run_value"

wine sc query "$service" | grep -q 'STATE *: 4 *RUNNING' || fail "not running: $(wine sc query "$service")"
echo "service running"

echo "== the first pass (${SECONDS}s)"
# Two seconds after the start; allow for a slow machine.
for _ in $(seq 100); do
  debug_texts <"$DORVANE_WINE_SESSION_LOG" | grep -qx 'Reached end of PM Update' && break
  sleep 0.1
done
service_debug=$(debug_texts <"$DORVANE_WINE_SESSION_LOG")
# The first pass also names the power-scheme interface the process chose: the stand-in is a
# Windows 2000/XP machine, without the current functions.
interface='Power scheme interface: legacy (powrprof.dll has no PowerGetActiveScheme)'
expected=$(printf '%s\n' 'Reached beginning of PM Update' "$interface" 'Reached end of PM Update')
[ "$service_debug" = "$expected" ] ||
  fail "debug texts of the service: '$service_debug'"
echo "debug texts: Reached beginning of PM Update, $interface, Reached end of PM Update"

[ -f "$log_file" ] || fail "no log at $log_file"
log=$(tr -d '\r' <"$log_file")
for line in 'INFO: .Default User Video Timeout will be changed' \
  'INFO: SetUserAcVideoTimeOut() Succeded' \
  'INFO: .Default User System Standby will be changed' \
  'INFO: SetUserAcStandbyTimeOut() Succeded' \
  'INFO: Commiting of Power Scheme() Succeded'; do
  grep -qxF "$line" <<<"$log" || fail "log line missing: $line"
done
grep -q '^ERROR: ' <<<"$log" && fail "error lines in the log"
echo "log:"
sed 's/^/  /' <<<"$log"

# In the machine hive: the service's pass. Monitor 20 minutes found, 10 the policy.
[ "$(value_of "$backup_key" CurACUserVideoTimeout)" = 0x14 ] || fail "backup CurACUserVideoTimeout"
[ "$(value_of "$backup_key" ACUserVideoTimeoutPolicy)" = 0xa ] || fail "backup ACUserVideoTimeoutPolicy"
[ "$(value_of "$backup_key" ACUserMonIdleTime)" = 0x14 ] || fail "backup of the replaced monitor time-out"
echo "backup key under HKLM: monitor 20 minutes replaced by 10"

# The user half of scheme 0 in the registry layout: monitor 1200 s before, 600 s after at
# byte 56; standby 0 before, 1800 s after at byte 28 (little-endian hex as reg prints it).
le32() { printf '%02X%02X%02X%02X' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
at() { printf '%s' "${1:$(($2 * 2)):8}"; }
user_half=$(value_of "$scheme0" Policies)
[ "$(at "$user_half_before" 56)" = "$(le32 1200)" ] || fail "monitor time-out before: $(at "$user_half_before" 56)"
[ "$(at "$user_half" 56)" = "$(le32 600)" ] || fail "monitor time-out stored: $(at "$user_half" 56)"
[ "$(at "$user_half_before" 28)" = "$(le32 0)" ] || fail "standby time-out before: $(at "$user_half_before" 28)"
[ "$(at "$user_half" 28)" = "$(le32 1800)" ] || fail "standby time-out stored: $(at "$user_half" 28)"
echo "scheme 0: monitor 1200 s -> 600 s, standby 0 -> 1800 s"

echo "== /Install again (${SECONDS}s)"
# The service exists: creation fails, the status query then has no service to ask.
hollin reinstall /Install
expect_run reinstall 1 'CreateService fails!' 'QueryServiceStatus fails!'

echo "== /Uninstall (${SECONDS}s)"
hollin uninstall /Uninstall
expect_run uninstall 0
installed=0
wine reg query "$service_key" >/dev/null 2>&1 && fail "the service key is still there"
[ "$(value_of "$run_key" Ulmora_Dorvane_Tool)" = 'C:\windows\system32\Dorvane_Tool.exe' ] ||
  fail "the Run value went with the service"
# The stop request ended the service's process.
for _ in $(seq 50); do
  pgrep -f -x 'C:\\windows\\system32\\Hollin.exe' >/dev/null || break
  sleep 0.1
done
pgrep -f -x 'C:\\windows\\system32\\Hollin.exe' >/dev/null && fail "the service's process still runs"
echo "service deleted, its process ended; the Run value stays"

echo "== /Uninstall without the service (${SECONDS}s)"
hollin uninstall-again /Uninstall
expect_run uninstall-again 1 'OpenService Fails!' 'QueryServiceStatus fails!' 'DeleteService Fails!'

echo "== passed (${SECONDS}s)"
