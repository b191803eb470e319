# Helpers to run Windows programs under Wine in a throwaway prefix. Sourced by the scripts.
#
#   wine_prefix_start [dir]  make a fresh 64-bit prefix (in a new temp dir unless given),
#                            start a persistent wineserver for it and boot its session
#   wine_prefix_stop         end the session's processes and remove the prefix
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
