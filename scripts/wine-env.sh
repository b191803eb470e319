# Helpers to run Windows programs under Wine in a throwaway prefix. Sourced by the scripts.
#
#   wine_prefix_start [dir]  make a fresh 64-bit prefix (in a new temp dir unless given),
#                            start a persistent wineserver for it and boot its session
#   wine_prefix_stop         end the session's processes and remove the prefix
#   display_start DIR        start a private Xvfb display; its number in DIR/display, its
#                            process id in DIR/xvfb.pid (non-zero status when it did not start)
#   display_stop DIR         end the display display_start started in DIR
#
# The session's first wine64 command hands its stdout/stderr to the session's own processes
# (services.exe and friends); it goes to a file here, never into a pipe, or a reader of that
# pipe would wait for ever.

WINE64=${WINE64:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver64)}
export WINE64 WINESERVER

wine_prefix_start() {
  local dir=${1:-}
  if [ -z "$dir" ]; then dir=$(mktemp -d /tmp/dorvane-wine.XXXXXX); fi
  export WINEPREFIX=$dir
  export WINEARCH=win64
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"powrprof=n,b;mscoree,mshtml="}
  export DORVANE_WINE_SESSION_LOG=$WINEPREFIX.session.log
  "$WINE64" wineboot -i >"$DORVANE_WINE_SESSION_LOG" 2>&1 || true
  "$WINESERVER" -w
  "$WINESERVER" -p
  "$WINE64" cmd /c exit >>"$DORVANE_WINE_SESSION_LOG" 2>&1 || true
  # Without a window manager every window close takes about two seconds.
  "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
}

wine_prefix_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  "$WINESERVER" -k >/dev/null 2>&1 || true
  case "$WINEPREFIX" in
    /tmp/dorvane-wine.*) rm -rf "$WINEPREFIX" "$WINEPREFIX.session.log" ;;
  esac
  unset WINEPREFIX
}

# A Unix path as Wine sees it (the Z: drive maps /).
winepath_of() {
  printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"
}

display_start() {
  local dir=$1
  # Xvfb picks a free display number and writes it to descriptor 3. It outlives this command;
  # display_stop ends it by the process id kept here.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$dir/display" </dev/null >"$dir/xvfb.log" 2>&1 &
  local pid=$!
  echo $pid >"$dir/xvfb.pid"
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && return 0
    kill -0 $pid 2>/dev/null || { cat "$dir/xvfb.log" >&2; echo "Xvfb did not start" >&2; return 1; }
    sleep 0.1
  done
  echo "Xvfb gave no display number" >&2
  return 1
}

display_stop() {
  local dir=$1
  [ -s "$dir/xvfb.pid" ] || return 0
  local pid
  pid=$(cat "$dir/xvfb.pid")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  rm -f "$dir/xvfb.pid"
}
