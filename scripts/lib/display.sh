# SPDX-License-Identifier: GPL-3.0-or-later
# Starts and stops a private X display; sourced.
#
# Xvfb on a display number it picks itself, with openbox as window manager.
#
# display_start DIR [--no-wm]
#                     starts both (Xvfb alone with --no-wm), keeping their logs in DIR; sets display
#                     (":N"), display_xvfb_pid and display_openbox_pid. Returns 1, with the reason
#                     on stderr, when either does not come up (what did start is stopped again).
# display_stop        stops both by process id, openbox first.

display_start() {
  local dir=$1
  display="" display_xvfb_pid="" display_openbox_pid=""
  # Xvfb writes the number it chose to the descriptor; a fixed one could clash with another's.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
  display_xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    kill -0 "$display_xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$dir/display" ]; then
    echo "Xvfb did not start: $(tail -n 3 "$dir/xvfb.log" | tr '\n' ' ')" >&2
    display_stop
    return 1
  fi
  display=":$(tr -d '[:space:]' <"$dir/display")"
  [ "${2:-}" = --no-wm ] && return 0
  DISPLAY=$display openbox >"$dir/openbox.log" 2>&1 &
  display_openbox_pid=$!
  # Give the window manager time to take the display before windows appear.
  sleep 1
  if ! kill -0 "$display_openbox_pid" 2>/dev/null; then
    echo "openbox did not start: $(tail -n 3 "$dir/openbox.log" | tr '\n' ' ')" >&2
    display_openbox_pid=""
    display_stop
    return 1
  fi
}

display_stop() {
  local pid
  for pid in "${display_openbox_pid:-}" "${display_xvfb_pid:-}"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  display_openbox_pid="" display_xvfb_pid=""
  return 0
}
