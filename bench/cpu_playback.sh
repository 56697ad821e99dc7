#!/bin/sh
# Real-time playback CPU: the engine playing a song through PulseAudio (into a null sink)
# against `fluidsynth -ni -a pulseaudio -z 1024` playing the same song with the same
# soundfont. Each player runs on its own, alternating; the CPU each uses while it plays
# (after a warm-up that covers loading the soundfont) is read from /proc.
#
#   bench/cpu_playback.sh [SONG.mid] [SECONDS]
#   env: BUILD=build folder (default: build), SEQUORA_SOUNDFONT, ROUNDS (default 2)
set -eu

song=${1:-/usr/share/games/openttd/baseset/openmsx/tttheme2.mid}
seconds=${2:-30}
build=${BUILD:-build}
rounds=${ROUNDS:-2}
warmup=5
mci="$build/bin/sequora-mci"

soundfont=${SEQUORA_SOUNDFONT:-}
if [ -z "$soundfont" ]; then
    # TimGM6mb first: the figures to compare with were taken with it.
    for f in /usr/share/sounds/sf2/TimGM6mb.sf2 /usr/share/sounds/sf2/FluidR3_GM.sf2 \
             /usr/share/sounds/sf2/default-GM.sf2 /usr/share/sounds/sf3/default-GM.sf3; do
        if [ -f "$f" ]; then soundfont=$f; break; fi
    done
fi
for need in pulseaudio pactl fluidsynth; do
    command -v "$need" >/dev/null || { echo "cpu_playback: needs $need" >&2; exit 1; }
done
[ -x "$mci" ] || { echo "cpu_playback: build $mci first (BUILD=folder)" >&2; exit 1; }
[ -f "$song" ] && [ -f "$soundfont" ] || { echo "cpu_playback: needs a song and a soundfont" >&2; exit 1; }

# A PulseAudio server, started here only if none runs, and a null sink to play into.
started_server=no
if ! pactl info >/dev/null 2>&1; then
    pulseaudio --start --exit-idle-time=-1 >/dev/null 2>&1
    started_server=yes
    sleep 1
fi
module=$(pactl load-module module-null-sink sink_name=sequora_bench sink_properties=device.description=sequora_bench)
cleanup() {
    pactl unload-module "$module" >/dev/null 2>&1 || true
    if [ "$started_server" = yes ]; then pulseaudio --kill >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT INT TERM
export PULSE_SINK=sequora_bench

ticks_per_second=$(getconf CLK_TCK)

# CPU ticks (user + system, all threads) of a process so far.
cpu_ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# Runs the command given, measures its CPU over $seconds after the warm-up, stops it.
# Prints the CPU as a percentage of one core.
measure() {
    "$@" >/dev/null 2>&1 &
    pid=$!
    sleep "$warmup"
    if ! kill -0 "$pid" 2>/dev/null; then echo "cpu_playback: $1 ended early" >&2; exit 1; fi
    before=$(cpu_ticks "$pid")
    sleep "$seconds"
    after=$(cpu_ticks "$pid")
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    awk -v t="$((after - before))" -v hz="$ticks_per_second" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

wait_ms=$(( (warmup + seconds + 5) * 1000 ))
echo "song $song, soundfont $soundfont, $seconds s measured after $warmup s, null sink"
total_ours=0
total_theirs=0
for round in $(seq "$rounds"); do
    ours=$(SEQUORA_MIDI_OUT=fluidsynth SEQUORA_AUDIO_DRIVER=pulseaudio SEQUORA_SOUNDFONT="$soundfont" \
        measure "$mci" "open $song type sequencer alias bench" "play bench" "wait $wait_ms")
    theirs=$(measure fluidsynth -ni -a pulseaudio -z 1024 "$soundfont" "$song")
    echo "round $round: sequora $ours % CPU, fluidsynth -z 1024 $theirs % CPU"
    total_ours=$(awk -v a="$total_ours" -v b="$ours" 'BEGIN { print a + b }')
    total_theirs=$(awk -v a="$total_theirs" -v b="$theirs" 'BEGIN { print a + b }')
done
awk -v a="$total_ours" -v b="$total_theirs" -v n="$rounds" 'BEGIN {
    printf "mean: sequora %.2f %% CPU, fluidsynth %.2f %% CPU, ratio sequora/fluidsynth %.2f (target <= 1.10)\n", a / n, b / n, a / b }'
