#!/bin/sh
# Resident memory while playing: sequora-mci, `fluidsynth -ni` and TiMidity++ each playing
# the same songs with the same soundfont (FluidR3_GM by default) into a private
# PulseAudio null sink. VmRSS is read from /proc after the song has played a while, and
# its peak (VmHWM) beside it. FluidSynth's own player loads the whole soundfont; TiMidity
# loads instruments as a song uses them, as the engine does.
#
#   bench/memory.sh [SONG.mid ...]
#   env: BUILD=build folder (default: build), SEQUORA_SOUNDFONT, SETTLE seconds (default 6)
set -eu

build=${BUILD:-build}
settle=${SETTLE:-6}
mci="$build/bin/sequora-mci"
soundfont=${SEQUORA_SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
songs=/usr/share/games/openttd/baseset/openmsx
if [ $# -eq 0 ]; then
    set -- "$songs/keep_on_rolling.mid" "$songs/tttheme2.mid" "$songs/flying_scotsman.mid"
fi

for need in pulseaudio pactl fluidsynth timidity; do
    command -v "$need" >/dev/null || { echo "memory: needs $need" >&2; exit 1; }
done
[ -x "$mci" ] || { echo "memory: build $mci first (BUILD=folder)" >&2; exit 1; }
[ -f "$soundfont" ] || { echo "memory: no soundfont $soundfont" >&2; exit 1; }

tmp=$(mktemp -d)
pulse_pid=
child_pid=
stop_pid() {
    if [ -n "$1" ]; then
        kill "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}
cleanup() {
    stop_pid "$child_pid"
    stop_pid "$pulse_pid"
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -m 700 "$tmp/pulse-home" "$tmp/pulse-run"
HOME="$tmp/pulse-home" XDG_RUNTIME_DIR="$tmp/pulse-run" pulseaudio -n --daemonize=no \
    --exit-idle-time=-1 --log-target=stderr --log-level=error \
    -L "module-native-protocol-unix socket=$tmp/pulse.sock auth-anonymous=1" \
    -L "module-null-sink sink_name=sequora_bench" >"$tmp/pulse.log" 2>&1 &
pulse_pid=$!
export PULSE_SERVER="unix:$tmp/pulse.sock"
tries=0
until pactl info >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ "$tries" -le 50 ] || { echo "memory: PulseAudio did not start" >&2; exit 1; }
    sleep 0.1
done

# TiMidity++ plays through libao, which finds the PulseAudio server by PULSE_SERVER.
printf 'soundfont %s\n' "$soundfont" >"$tmp/timidity.cfg"
printf 'default_driver=pulse\n' >"$tmp/libao.conf"

kib() {
    awk -v k="$2" '$1 == k":" { print $2 }' "/proc/$1/status"
}
# Starts the command given, waits, prints "RSS peak" in MB.
measure() {
    "$@" >/dev/null 2>&1 &
    child_pid=$!
    sleep "$settle"
    if ! kill -0 "$child_pid" 2>/dev/null; then
        child_pid=
        echo "ended early"
        return
    fi
    rss=$(kib "$child_pid" VmRSS)
    hwm=$(kib "$child_pid" VmHWM)
    stop_pid "$child_pid"
    child_pid=
    awk -v r="$rss" -v h="$hwm" 'BEGIN { printf "%.0f %.0f", r / 1024, h / 1024 }'
}

echo "resident memory in MB (now / peak) after ${settle} s of playing; soundfont $soundfont"
printf '%-26s %14s %14s %14s %8s %8s\n' song sequora-mci fluidsynth timidity "vs fs" "vs tim"
for song in "$@"; do
    song=$(readlink -f "$song")
    wait_ms=$(( (settle + 5) * 1000 ))
    ours=$(SEQUORA_MIDI_OUT=fluidsynth SEQUORA_AUDIO_DRIVER=pulseaudio SEQUORA_SOUNDFONT="$soundfont" \
        measure "$mci" "open $song type sequencer alias m" "play m" "wait $wait_ms")
    fs=$(measure fluidsynth -ni -a pulseaudio -z 1024 "$soundfont" "$song")
    tim=$(HOME="$tmp" measure env AO_CONFIG="$tmp/libao.conf" timidity -c "$tmp/timidity.cfg" -OO "$song")
    printf '%-26s %14s %14s %14s' "$(basename "$song")" "$(echo "$ours" | tr ' ' /)" \
        "$(echo "$fs" | tr ' ' /)" "$(echo "$tim" | tr ' ' /)"
    awk -v o="${ours%% *}" -v f="${fs%% *}" -v t="${tim%% *}" \
        'BEGIN { printf " %7.2fx %7.2fx\n", (f > 0 ? o / f : 0), (t > 0 ? o / t : 0) }'
done
