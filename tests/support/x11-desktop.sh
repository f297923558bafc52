#!/usr/bin/env bash
# Starts Xvfb on a free display with a window manager and a top panel, prints
# "ready DISPLAY EDGE" (EDGE: the panel's lower edge) once all are up, and runs
# until terminated.            x11-desktop.sh openbox|xfwm4|i3|mutter|kwin
# On that display, switches to the second desktop: x11-desktop.sh WM next
set -euo pipefail
wm=$1
if [ "${2:-}" = next ]; then
  if [ "$wm" = i3 ]; then exec i3-msg -q workspace 2; else exec xdotool set_desktop 1; fi
fi
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; exit 0' TERM INT EXIT
unset DBUS_SESSION_BUS_ADDRESS
# Xvfb takes the display number itself (by its lock file) and reports it once
# it accepts clients: a number picked here first could be taken by a desktop
# that other tests start at the same moment.
number=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 & pids+=($!)
until [ -s "$number" ]; do kill -0 "${pids[0]}" || exit 1; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$number")
rm -f "$number"
case "$wm" in
  i3)
    config=$(mktemp); printf '%s\n' '# i3 config file (v4)' 'default_border none' \
      'bar {' '  position top' '  tray_output none' '}' >"$config"
    i3 -c "$config" >/dev/null 2>&1 & pids+=($!)
    edge() { xdotool search --class i3bar getwindowgeometry --shell 2>/dev/null |
      awk -F= '/^Y=/ { y = $2 } /^HEIGHT=/ { print y + $2; exit }'; } ;;
  mutter) dbus-run-session -- mutter --x11 --replace --sm-disable >/dev/null 2>&1 & pids+=($!) ;;
  kwin)
    printf '[Desktops]\nNumber=2\n' >"${XDG_CONFIG_HOME:-$HOME/.config}/kwinrc"
    dbus-run-session -- kwin_x11 --replace >/dev/null 2>&1 & pids+=($!) ;;
  *) "$wm" >/dev/null 2>&1 & pids+=($!) ;;
esac
if [ "$wm" != i3 ]; then
  # The panel: a 32-px dock along the top that reserves its height.
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do sleep 0.1; done
  trayer --edge top --widthtype percent --width 100 --height 32 --SetDockType true \
    --SetPartialStrut true >/dev/null 2>&1 & pids+=($!)
  edge() { xprop -root _NET_WORKAREA 2>/dev/null | sed -n 's/.* = [0-9]*, \([0-9]*\),.*/\1/p'; }
fi
until [ "$(edge)" -gt 0 ] 2>/dev/null; do sleep 0.1; done
echo "ready $DISPLAY $(edge)"
wait
