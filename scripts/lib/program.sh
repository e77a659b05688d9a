# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the real program, finds its window, presses its keys and ends it as a user would.
#
# Sourced by the scripts that drive it on a display (the end-to-end sessions, screenshot,
# measure-cpu); it sets app_pid and wid in the caller.

# tonvault_start <program> <log file> [launcher]: starts the program (under the launcher, if one
# is given) and waits for its window, up to TONVAULT_START_SECONDS (default 10; the first start in
# a fresh wine prefix takes longer). Returns 1 with the reason on stderr when the
# program ends or no window comes.
tonvault_start() {
  local program=$1 log=$2 launcher=${3:-}
  ${launcher:+"$launcher"} "$program" >"$log" 2>&1 &
  app_pid=$!
  wid=""
  for _ in $(seq $((${TONVAULT_START_SECONDS:-10} * 10))); do
    wid=$(xdotool search --onlyvisible --name '^Tonvault$' 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && return 0
    if ! kill -0 "$app_pid" 2>/dev/null; then
      echo "the program ended at start-up: $(cat "$log")" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "no window captioned Tonvault appeared" >&2
  return 1
}

# tonvault_press <key>...: gives the window the focus and presses the keys (F5 Start, F8 Stop).
tonvault_press() {
  xdotool windowactivate --sync "$wid" 2>/dev/null || xdotool windowfocus "$wid" 2>/dev/null || true
  xdotool key --window "$wid" "$@"
}

# tonvault_quit: Stop and F4, then waits up to 10 s for the program to end. Returns its exit
# status, or 124 when it is still running (it is then killed).
tonvault_quit() {
  tonvault_press F8
  sleep 0.5
  tonvault_press F4
  for _ in $(seq 100); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
    return 124
  fi
  wait "$app_pid"
}

# tonvault_kill: ends the program at once if it still runs (for traps and failures).
tonvault_kill() {
  if [ -n "${app_pid:-}" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  return 0
}
