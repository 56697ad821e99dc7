#!/bin/sh
# Changing the soundfont while a song plays, as the sound settings window does: the time
# from the change until the song sounds again (the new soundfont read, its presets
# loaded, the stream started anew), beside the time a start with that soundfont takes to
# its first sound (open and play given at once) and beside `fluidsynth -a pulseaudio`
# loading and playing the same song with it. All through sequora-mci (whose word
# "soundfont FILE" makes the change) on the monitor of a null sink of a private PulseAudio
# server; 20 ms above -44 dBFS after at least 20 ms of silence counts as sound again.
#
#   bench/soundfont_switch.sh [SONG.mid]
#   env: BUILD=build folder (default: build), FROM and TO (the soundfonts changed from and
#        to; default TimGM6mb, then FluidR3_GM), ROUNDS (default 3)
set -eu

song=${1:-/usr/share/games/openttd/baseset/openmsx/5432gone_redfarn.mid}
build=$(readlink -f "${BUILD:-build}")
rounds=${ROUNDS:-3}
from=${FROM:-/usr/share/sounds/sf2/TimGM6mb.sf2}
to=${TO:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
mci="$build/bin/sequora-mci"
for need in pulseaudio parec fluidsynth python3; do
    command -v "$need" >/dev/null || { echo "soundfont_switch: needs $need" >&2; exit 1; }
done
[ -x "$mci" ] || { echo "soundfont_switch: build $build first" >&2; exit 1; }
for f in "$song" "$from" "$to"; do
    [ -f "$f" ] || { echo "soundfont_switch: no $f" >&2; exit 1; }
done
song=$(readlink -f "$song")

tmp=$(mktemp -d)
pulse_pid=
cleanup() {
    [ -n "$pulse_pid" ] && { kill "$pulse_pid" 2>/dev/null || true; wait "$pulse_pid" 2>/dev/null || true; }
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -m 700 "$tmp/pulse-home" "$tmp/pulse-run" "$tmp/config"
HOME="$tmp/pulse-home" XDG_RUNTIME_DIR="$tmp/pulse-run" pulseaudio -n --daemonize=no \
    --exit-idle-time=-1 --log-target=stderr --log-level=error --use-pid-file=no \
    -L "module-null-sink sink_name=bench" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$tmp/pulse.sock" 2>/dev/null &
pulse_pid=$!
export PULSE_SERVER="unix:$tmp/pulse.sock" XDG_CONFIG_HOME="$tmp/config"
tries=0
while [ ! -S "$tmp/pulse.sock" ] && [ "$tries" -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
[ -S "$tmp/pulse.sock" ] || { echo "soundfont_switch: no PulseAudio server" >&2; exit 1; }

# Seconds to sound: from the start of the command given (mode start), or from its line
# that begins with "soundfont" to the first sound after a silence (mode switch).
measure() {
    python3 - "$@" <<'PY'
import struct, subprocess, sys, threading, time
mode, cmd = sys.argv[1], sys.argv[2:]
rec = subprocess.Popen(["parec", "--raw", "--format=s16le", "--channels=2", "--rate=44100",
                        "--latency-msec=10", "-d", "bench.monitor"], stdout=subprocess.PIPE)
time.sleep(0.5)
mark = {}
start = time.monotonic()
player = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
def follow():
    for line in player.stdout:
        if line.startswith("soundfont"):
            mark["t"] = time.monotonic()
threading.Thread(target=follow, daemon=True).start()
heard = None
quiet = 0.0
chunk_s = 882 / 44100
while time.monotonic() - start < 30:
    chunk = rec.stdout.read(882 * 4)
    if not chunk:
        break
    loud = max(abs(v) for v in struct.unpack("<%dh" % (len(chunk) // 2), chunk)) > 200
    now = time.monotonic()
    if mode == "start":
        if loud:
            heard = now - start
            break
    elif "t" in mark and now > mark["t"]:
        if not loud:
            quiet += chunk_s
        elif quiet >= 0.02:
            heard = now - mark["t"]
            break
player.kill(); rec.kill()
print("%.3f" % heard if heard is not None else "none")
PY
}

echo "song $song, soundfont $from changed to $to while playing, private PulseAudio null sink, seconds"
echo "round  change to sound again  start with it to first sound  fluidsynth first sound  change/start"
for round in $(seq "$rounds"); do
    change=$(SEQUORA_MIDI_OUT=fluidsynth SEQUORA_AUDIO_DRIVER=pulseaudio SEQUORA_SOUNDFONT="$from" \
        measure switch "$mci" "open $song type sequencer alias m" "play m" "wait 3000" \
        "soundfont $to" "wait 10000")
    start=$(SEQUORA_MIDI_OUT=fluidsynth SEQUORA_AUDIO_DRIVER=pulseaudio SEQUORA_SOUNDFONT="$to" \
        measure start "$mci" "open $song type sequencer alias m" "play m" "wait 20000")
    theirs=$(measure start fluidsynth -ni -a pulseaudio -z 1024 "$to" "$song")
    ratio=$(awk -v a="$change" -v b="$start" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else print "-" }')
    printf "%5s  %21s  %28s  %22s  %12s\n" "$round" "$change" "$start" "$theirs" "$ratio"
done
