#!/usr/bin/env bash
# wine-env.sh start|stop BUILD_DIR
# start: an Xvfb display (1920x1080), a persistent wineserver and a booted
#        private prefix in BUILD_DIR/wineprefix with font replacements.
# stop:  ends both. Every daemon gets /dev/null for its standard streams, or
#        ctest would wait for them after the last test.
set -u
cmd=${1:?start or stop}
build=$(cd "${2:?build dir}" && pwd)
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

case "$cmd" in
start)
  # A display of our own, so window placement and screenshots do not depend on
  # the caller's; PIMBREL_USE_DISPLAY=:N uses that display instead.
  if [ -n "${PIMBREL_USE_DISPLAY:-}" ]; then
    echo "${PIMBREL_USE_DISPLAY#:}" >"$build/wine-display"
  elif [ -s "$build/wine-xvfb.pid" ] && kill -0 "$(cat "$build/wine-xvfb.pid")" 2>/dev/null; then
    :
  else
    rm -f "$build/wine-display"
    setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$build/wine-display" \
      </dev/null >/dev/null 2>&1 &
    echo $! >"$build/wine-xvfb.pid"
    for _ in $(seq 100); do [ -s "$build/wine-display" ] && break; sleep 0.1; done
    [ -s "$build/wine-display" ] || { echo "wine-env: Xvfb did not start" >&2; exit 1; }
  fi
  export DISPLAY=":$(cat "$build/wine-display")"
  # A prefix whose first boot was cut short has no kernel32: start it afresh.
  for attempt in 1 2; do
    mkdir -p "$WINEPREFIX"
    setsid "$wineserver" -p </dev/null >/dev/null 2>&1
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] && break
    echo "wine-env: prefix boot failed (attempt $attempt), starting it afresh" >&2
    "$wineserver" -k </dev/null >/dev/null 2>&1
    rm -rf "$WINEPREFIX"
  done
  [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] || { echo "wine-env: no prefix" >&2; exit 1; }
  # Wine ships neither font the splash asks for; map them to installed ones.
  "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d "Liberation Sans" /f \
    </dev/null >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "宋体" /d "WenQuanYi Zen Hei" /f \
    </dev/null >/dev/null 2>&1
  # Xvfb runs no window manager: Wine would wait two seconds for one each time a
  # popup with a system menu is hidden (Windows never does), so keep windows
  # unmanaged there.
  if [ -z "${PIMBREL_USE_DISPLAY:-}" ]; then
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  fi
  echo "wine-env: prefix $WINEPREFIX, display $DISPLAY"
  ;;
stop)
  "$wineserver" -k </dev/null >/dev/null 2>&1
  if [ -s "$build/wine-xvfb.pid" ]; then kill "$(cat "$build/wine-xvfb.pid")" 2>/dev/null; fi
  rm -f "$build/wine-xvfb.pid" "$build/wine-display"
  ;;
*) echo "usage: wine-env.sh start|stop BUILD_DIR" >&2; exit 2 ;;
esac
