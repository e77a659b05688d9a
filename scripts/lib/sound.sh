# SPDX-License-Identifier: GPL-3.0-or-later
# Starts a private PulseAudio for a test; sourced.
#
# The caller has pointed XDG_RUNTIME_DIR and HOME at private folders, so the user's own sound
# set-up is never touched.
# (scripts/harness/with-pulse builds on it, and adds PipeWire, sinks with tones and the controls a test
# needs: a killed, stopped or restarted server, an unplugged input.)
#
# sound_pulse_config DIR [SINK]  writes DIR/pa.pa: the native protocol and, with SINK, a null sink
#                                of that name whose monitor is the default source
# sound_pulse_start DIR          starts PulseAudio on DIR/pa.pa (log in DIR/pulse.log), not as a
#                                daemon so that its process id is known: sets sound_pid
# sound_wait_ready PID           waits up to 10 s until a client can talk to the server whose
#                                process is PID; 1 when it does not or PID ends first

sound_pulse_config() {
  local dir=$1 sink=${2:-}
  {
    echo "load-module module-native-protocol-unix"
    if [ -n "$sink" ]; then
      echo "load-module module-null-sink sink_name=$sink rate=44100 channels=1"
      echo "set-default-sink $sink"
      echo "set-default-source $sink.monitor"
    fi
  } >"$dir/pa.pa"
}

sound_pulse_start() {
  local dir=$1
  pulseaudio -n -F "$dir/pa.pa" --daemonize=no --exit-idle-time=-1 --realtime=no \
    --high-priority=no --use-pid-file=no --log-target="file:$dir/pulse.log" \
    </dev/null >/dev/null 2>&1 &
  sound_pid=$!
}

sound_wait_ready() {
  local pid=$1
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 1
    pactl info >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
