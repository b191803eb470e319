#!/usr/bin/env bash
# Dorvane_Tool.exe under Wine, as Windows runs it at logon: the real program with the stand-in
# powrprof.dll beside it, the six default schemes and the example policy seeded with regedit.
# Four runs in one prefix, each checked by its exit status, the log file byte for byte, the
# backup key under HKCU and the active scheme's two halves in the registry:
#
#   1. the example policy (LogLevel 11): every announcement, setter and the commit logged;
#   2. a second pass: nothing to change, only the commit appended to the same log;
#   3. arguments on the command line: the same pass as run 1, nothing else;
#   4. MajorVersion 0 with LogLevel 1: one error line and no registry write at all.
#
#   run-logon-test.sh --tool EXE --powrprof DLL --fixture REG --policy REG
#
# Always makes its own throwaway Wine prefix, also when WINEPREFIX is set.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

tool= powrprof= fixture= policy=
while [ $# -gt 0 ]; do
  case $1 in
    --tool) tool=$2 ;;
    --powrprof) powrprof=$2 ;;
    --fixture) fixture=$2 ;;
    --policy) policy=$2 ;;
    *) echo "run-logon-test.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done
for f in "$tool" "$powrprof" "$fixture" "$policy"; do
  [ -f "$f" ] || { echo "run-logon-test.sh: missing file: '$f'" >&2; exit 2; }
done

. "$repo/scripts/wine-env.sh"

work=$(mktemp -d /tmp/dorvane-logon.XXXXXX)
cleanup() {
  set +e
  wine_prefix_stop
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
# Compares two files; on a difference shows both with line ends made visible.
same() {  # same EXPECTED GOT WHAT
  if cmp -s "$1" "$2"; then ok "$3"; return; fi
  fail "$3"
  echo "--- expected"; cat -A "$1"
  echo "--- got"; cat -A "$2"
}

unset WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="powrprof=n,b;mscoree,mshtml="
wine_prefix_start
echo "== Wine prefix $WINEPREFIX"

bin=$work/bin
mkdir -p "$bin"
cp "$tool" "$bin/Dorvane_Tool.exe"
cp "$powrprof" "$bin/powrprof.dll"
cd "$bin"

wine() { "$WINE64" "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
quiet() { wine "$@" >/dev/null || { echo "setup step failed: $*"; exit 1; }; }

readonly USER_SCHEME='HKCU\Control Panel\PowerCfg\PowerPolicies\0'
readonly MACH_SCHEME='HKLM\Software\Microsoft\Windows\CurrentVersion\Controls Folder\PowerCfg\PowerPolicies\0'
readonly BACKUP_KEY='Software\Velmorant\Dorvane\Backup'
readonly OPTIONS_KEY='HKLM\Software\Policies\Velmorant\Dorvane\Options'

# Queries below read a missing key or value as empty, so a check reports it instead of the
# script ending there.
# The "Policies" bytes of a scheme half as reg prints them (upper-case hex).
policies() {
  { wine reg query "$1" /v Policies || true; } | awk '$1 == "Policies" && $2 == "REG_BINARY" { print $3 }'
}
# HEX with the little-endian DWORD at byte OFFSET replaced by VALUE.
patch() {  # patch HEX OFFSET VALUE
  local v=$3
  printf '%s%02X%02X%02X%02X%s' "${1:0:$(($2 * 2))}" $((v & 255)) $((v >> 8 & 255)) \
    $((v >> 16 & 255)) $((v >> 24 & 255)) "${1:$(($2 * 2 + 8))}"
}
# The values of a key, one "name type value" a line, sorted; DWORDs in decimal.
values() {
  local name type value
  { wine reg query "$1" || true; } | while read -r name type value; do
    case $type in
      REG_DWORD) echo "$name $type $((value))" ;;
      REG_*) echo "$name $type $value" ;;
    esac
  done | sort
}
# "name minutes" lines (stdin) as values() prints DWORDs.
dwords() { awk 'NF == 2 { print $1, "REG_DWORD", $2 }' | sort; }
# One value's data as reg prints it; empty when it is missing.
value_of() {  # value_of KEY NAME
  { wine reg query "$1" /v "$2" || true; } | awk -v name="$2" '$1 == name { print $3 }'
}
key_exists() { wine reg query "$1" >/dev/null 2>&1; }

log_file() { find "$WINEPREFIX/drive_c/windows" -maxdepth 2 -ipath '*/temp/dorvane.log'; }
# Each argument a line ended by CR LF, as the log writes it.
crlf_lines() { [ $# -eq 0 ] || printf '%s\r\n' "$@"; }

run_tool() {  # run_tool NAME [ARGUMENTS...]: one pass; checks the exit status
  local name=$1 status=0
  shift
  "$WINE64" Dorvane_Tool.exe "$@" >"$work/$name.out" 2>&1 || status=$?
  [ "$status" = 0 ] && ok "$name: exit status 0" || { fail "$name: exit status $status"; cat "$work/$name.out"; }
}

check_log() {  # check_log NAME LINES...: the whole log file, byte for byte
  local name=$1 path
  shift
  crlf_lines "$@" >"$work/$name.log.expected"
  path=$(log_file)
  if [ -z "$path" ]; then fail "$name: no log file C:\\windows\\Temp\\Dorvane.log"; return; fi
  same "$work/$name.log.expected" "$path" "$name: log file"
}

check_backup() {  # check_backup NAME <<< "name minutes" lines: HKCU backup key, nothing in HKLM
  local name=$1
  dwords >"$work/$name.backup.expected"
  values "HKCU\\$BACKUP_KEY" >"$work/$name.backup"
  same "$work/$name.backup.expected" "$work/$name.backup" "$name: backup key under HKCU"
  if key_exists "HKLM\\$BACKUP_KEY"; then fail "$name: a backup key under HKLM"; fi
}

check_scheme() {  # check_scheme NAME USER_HEX MACH_HEX: both halves of scheme 0, whole
  local name=$1 user mach
  user=$(policies "$USER_SCHEME")
  mach=$(policies "$MACH_SCHEME")
  [ "$user" = "$2" ] && ok "$name: user half of scheme 0" \
    || fail "$name: user half of scheme 0"$'\n'"  expected $2"$'\n'"  got      $user"
  [ "$mach" = "$3" ] && ok "$name: machine half of scheme 0" \
    || fail "$name: machine half of scheme 0"$'\n'"  expected $3"$'\n'"  got      $mach"
}

# Back to the default schemes, without a backup key or a log.
reset_state() {
  quiet regedit /S "$(winepath_of "$fixture")"
  wine reg delete "HKCU\\$BACKUP_KEY" /f >/dev/null 2>&1 || true
  local path
  path=$(log_file)
  [ -z "$path" ] || rm -f "$path"
}

quiet regedit /S "$(winepath_of "$fixture")"
quiet regedit /S "$(winepath_of "$policy")"
user_default=$(policies "$USER_SCHEME")
mach_default=$(policies "$MACH_SCHEME")
[ ${#user_default} = 160 ] && [ ${#mach_default} = 128 ] \
  || { echo "the fixture did not seed scheme 0: '$user_default' '$mach_default'"; exit 1; }

# Scheme 0 after the example: mains monitor 20 -> 10 min (byte 56), mains standby 0 -> 30 min
# (byte 28) with its idle action now Sleep (byte 4), battery standby 5 -> 15 min (byte 32),
# mains disk 0 -> 20 min (byte 64); battery monitor (5) is already right and the battery disk
# policy (5000) is out of range. Machine half: hibernation 90 and 60 min in total, stored after
# the standby time-out: 60 min (byte 28) and 45 min (byte 32).
user_enforced=$user_default
for field in "4 2" "28 1800" "32 900" "56 600" "64 1200"; do
  user_enforced=$(patch "$user_enforced" $field)
done
mach_enforced=$(patch "$(patch "$mach_default" 28 3600)" 32 2700)

first_pass_log=(
  "INFO: User Video Timeout will be changed"
  "INFO: SetUserAcVideoTimeOut() Succeded"
  "INFO: User System Standby will be changed"
  "INFO: SetUserAcStandbyTimeOut() Succeded"
  "INFO: Machine Hibernation will be changed"
  "INFO: SetMachAcHibernateTimeOut() Succeded"
  "INFO: .Default User DC System Standby will be changed"
  "INFO: SetUserDcStandbyTimeOut() Succeded"
  "INFO: .Default DC Machine Hibernation will be changed"
  "INFO: SetMachDcHibernateTimeOut() Succeded"
  "INFO: User Disk Spindown Timeout will be changed"
  "INFO: SetUserAcSpinDownTimeOut() Succeded"
  "INFO: Commiting of Power Scheme() Succeded"
)
# The snapshot of the default scheme 0 with the example's policy, and the old value of each
# setting the first pass changed, under the policy value's name.
first_pass_backup="
CurACUserVideoTimeout 20
CurACUserStandbyTimeout 0
CurACMachHibernateTimeout 0
ACUserVideoTimeoutPolicy 10
ACUserStandbyTimeoutPolicy 30
ACMachHibernateTimeoutPolicy 90
CurDCUserVideoTimeout 5
CurDCUserStandbyTimeout 5
CurDCMachHibernateTimeout 0
DCUserVideoTimeoutPolicy 5
DCUserStandbyTimeoutPolicy 15
DCMachHibernateTimeoutPolicy 60
ACUserMonIdleTime 20
ACUserStandByIdleTime 0
ACMachHibernateIdleTime 0
DCUserStandByIdleTime 5
DCMachHibernateIdleTime 0
ACUserHDDspindownIdleTime 0"

echo "== 1. the example policy, LogLevel 11"
run_tool first
check_log first "${first_pass_log[@]}"
check_backup first <<<"$first_pass_backup"
check_scheme first "$user_enforced" "$mach_enforced"
active=$(value_of 'HKCU\Control Panel\PowerCfg' CurrentPowerPolicy)
[ "$active" = 0 ] && ok "first: scheme 0 still active" || fail "first: active scheme '$active'"

echo "== 2. a second pass"
# Every setting reads back as the first pass set it, hibernation included (standby plus the
# delay after it: 30 + 60 and 15 + 45): nothing is announced or changed, only the commit is
# logged, the snapshot shows the enforced scheme and the replaced values stay as they were.
run_tool second
check_log second "${first_pass_log[@]}" \
  "INFO: Commiting of Power Scheme() Succeded"
check_backup second <<<"
CurACUserVideoTimeout 10
CurACUserStandbyTimeout 30
CurACMachHibernateTimeout 90
ACUserVideoTimeoutPolicy 10
ACUserStandbyTimeoutPolicy 30
ACMachHibernateTimeoutPolicy 90
CurDCUserVideoTimeout 5
CurDCUserStandbyTimeout 15
CurDCMachHibernateTimeout 60
DCUserVideoTimeoutPolicy 5
DCUserStandbyTimeoutPolicy 15
DCMachHibernateTimeoutPolicy 60
ACUserMonIdleTime 20
ACUserStandByIdleTime 0
ACMachHibernateIdleTime 0
DCUserStandByIdleTime 5
DCMachHibernateIdleTime 0
ACUserHDDspindownIdleTime 0"
check_scheme second "$user_enforced" "$mach_enforced"

echo "== 3. arguments on the command line"
# The tool takes no options: whatever it is given, it runs the same single pass.
reset_state
run_tool arguments /Install /Uninstall -h "two words"
check_log arguments "${first_pass_log[@]}"
check_backup arguments <<<"$first_pass_backup"
check_scheme arguments "$user_enforced" "$mach_enforced"
if wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Ulmora_Dorvane_Tool >/dev/null 2>&1; then
  fail "arguments: a Run value was written"
else
  ok "arguments: no Run value written"
fi

echo "== 4. MajorVersion 0, LogLevel 1"
# Rejected before the scheme is read: one error line, and the registry as it was. The
# display setting, which every commit switches on, shows that no commit ran.
reset_state
quiet reg add 'HKLM\Software\Policies\Velmorant\Dorvane' /v MajorVersion /t REG_DWORD /d 0 /f
quiet reg add "$OPTIONS_KEY" /v LogLevel /t REG_DWORD /d 1 /f
quiet reg add 'HKCU\Control Panel\Desktop' /v PowerOffActive /t REG_SZ /d 0 /f
run_tool rejected
check_log rejected "ERROR: Major version NULL"
if key_exists "HKCU\\$BACKUP_KEY" || key_exists "HKLM\\$BACKUP_KEY"; then
  fail "rejected: a backup key was written"
else
  ok "rejected: no backup key"
fi
check_scheme rejected "$user_default" "$mach_default"
power_off=$(value_of 'HKCU\Control Panel\Desktop' PowerOffActive)
[ "$power_off" = 0 ] && ok "rejected: display setting untouched" \
  || fail "rejected: PowerOffActive is '$power_off'"

echo
if [ "$failures" -ne 0 ]; then
  echo "== $failures check(s) failed"
  exit 1
fi
echo "== passed"
