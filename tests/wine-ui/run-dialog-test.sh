#!/usr/bin/env bash
# Caskwell's settings dialog as a real window: Caskwell.exe runs under Wine on a virtual X
# display of its own, DialogDriver.exe works the dialog from a second process (layout, all
# four rows, both check boxes, the message boxes), a screenshot of the dialog is taken, the
# dialog is closed, and the program's exit status and the scheme store are checked.
#
#   run-dialog-test.sh --caskwell EXE --driver EXE --powrprof DLL --showschemes EXE
#                      --fixture REG --artifacts DIR [--docs-image PNG]
#
# Always makes its own throwaway Wine prefix, also when WINEPREFIX is set (scripts/test sets
# one): the dialog's session must have DISPLAY from its very start. The screenshot goes to
# DIR/caskwell-dialog.png and, when given and changed, to the documentation's image.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

caskwell= driver= powrprof= showschemes= fixture= artifacts= docs_image=
while [ $# -gt 0 ]; do
  case $1 in
    --caskwell) caskwell=$2 ;;
    --driver) driver=$2 ;;
    --powrprof) powrprof=$2 ;;
    --showschemes) showschemes=$2 ;;
    --fixture) fixture=$2 ;;
    --artifacts) artifacts=$2 ;;
    --docs-image) docs_image=$2 ;;
    *) echo "run-dialog-test.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done
for f in "$caskwell" "$driver" "$powrprof" "$showschemes" "$fixture"; do
  [ -f "$f" ] || { echo "run-dialog-test.sh: missing file: '$f'" >&2; exit 2; }
done
[ -n "$artifacts" ] || { echo "run-dialog-test.sh: --artifacts is required" >&2; exit 2; }

. "$repo/scripts/wine-env.sh"

work=$(mktemp -d /tmp/caskwell-ui.XXXXXX)
xvfb_pid=
caskwell_pid=
cleanup() {
  set +e
  wine_prefix_stop
  [ -n "$caskwell_pid" ] && wait "$caskwell_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  for log in "$work/caskwell.log" "$work/xvfb.log"; do
    [ -s "$log" ] && { echo "--- $log"; tr -d '\r' <"$log"; }
  done
  exit 1
}

# A display of our own: Xvfb picks a free number and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start"
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb gave no display number"
display=:$(head -n 1 "$work/display")
export DISPLAY=$display
echo "== Xvfb on $DISPLAY"

unset WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="powrprof=n,b;mscoree,mshtml="
wine_prefix_start
echo "== Wine prefix $WINEPREFIX"
# Real dialog fonts instead of the bare fallback.
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"

# The programs side by side, the stand-in power profile beside them.
bin=$work/bin
mkdir -p "$bin"
cp "$caskwell" "$bin/Caskwell.exe"
cp "$driver" "$bin/DialogDriver.exe"
cp "$showschemes" "$bin/ShowSchemes.exe"
cp "$powrprof" "$bin/powrprof.dll"
cd "$bin"

wine() { "$WINE64" "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
# Runs one step of the driver; shows its failures and notes, counts its passed checks.
drive() {
  local out=$work/driver-$1.log
  wine DialogDriver.exe "$@" >"$out" || { cat "$out"; fail "DialogDriver $1"; }
  grep -v '^ok:' "$out" || true
  echo "$1: $(grep -c '^ok:' "$out") checks passed"
}

wine regedit /S "$(winepath_of "$fixture")" || fail "regedit of the fixture"
# A machine without standby, so "Force System Standby" has something to do.
drive without-s3

("$WINE64" Caskwell.exe >"$work/caskwell.log" 2>&1; echo $? >"$work/caskwell.status") &
caskwell_pid=$!

drive layout Caskwell.exe
drive drive

echo "== screenshot"
read -r x y w h < <(wine DialogDriver.exe geometry)
mkdir -p "$artifacts"
shot=$artifacts/caskwell-dialog.png
# No time stamps in the file, so an unchanged dialog gives an unchanged image.
import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage \
  -define png:exclude-chunks=date,time -strip "$shot" || fail "screenshot"
echo "$shot (${w}x${h})"
if [ -n "$docs_image" ] && ! cmp -s "$shot" "$docs_image"; then
  mkdir -p "$(dirname "$docs_image")"
  cp "$shot" "$docs_image"
  echo "updated $docs_image"
fi

echo "== closing"
drive close
for _ in $(seq 300); do
  [ -f "$work/caskwell.status" ] && break
  sleep 0.1
done
[ -f "$work/caskwell.status" ] || fail "Caskwell still running after its dialog closed"
wait "$caskwell_pid" || true
caskwell_pid=
status=$(cat "$work/caskwell.status")
[ "$status" = 0 ] || fail "Caskwell exit status $status"
echo "Caskwell exit status 0"

echo "== scheme store"
# The user half of scheme 0: monitor 9 minutes (540 s at byte 56), standby 12 minutes (720 s
# at byte 28); the machine half: machine standby 15 minutes (900 s at byte 20), hibernation
# 18 minutes after it (1080 s at byte 28). Little-endian hex as reg prints it.
le32() { printf '%02X%02X%02X%02X' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
policies() {
  wine reg query "$1" /v Policies | awk '$1 == "Policies" && $2 == "REG_BINARY" { print $3 }'
}
at() { printf '%s' "${1:$(($2 * 2)):8}"; }
user=$(policies 'HKCU\Control Panel\PowerCfg\PowerPolicies\0')
mach=$(policies 'HKLM\Software\Microsoft\Windows\CurrentVersion\Controls Folder\PowerCfg\PowerPolicies\0')
[ ${#user} = 160 ] || fail "user half of scheme 0: '$user'"
[ ${#mach} = 128 ] || fail "machine half of scheme 0: '$mach'"
[ "$(at "$user" 56)" = "$(le32 540)" ] || fail "stored monitor time-out: $(at "$user" 56)"
[ "$(at "$user" 28)" = "$(le32 720)" ] || fail "stored standby time-out: $(at "$user" 28)"
[ "$(at "$mach" 20)" = "$(le32 900)" ] || fail "stored machine standby: $(at "$mach" 20)"
[ "$(at "$mach" 28)" = "$(le32 1080)" ] || fail "stored hibernation delay: $(at "$mach" 28)"
echo "registry: monitor 540 s, standby 720 s, machine standby 900 s, hibernation delay 1080 s"

# The same through the library, from another program: monitor, standby, hibernate and disk,
# mains/battery, in minutes.
listing=$(wine ShowSchemes.exe 0) || fail "ShowSchemes: $listing"
echo "$listing"
row=$(awk '$1 == "*" && $2 == "0" { print $(NF-3), $(NF-2), $(NF-1), $NF }' <<<"$listing")
[ "$row" = "9/5 12/5 30/0 0/10" ] || fail "ShowSchemes row of scheme 0: '$row'"

echo "== passed"
