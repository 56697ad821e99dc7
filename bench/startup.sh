#!/bin/sh
# How soon things happen: the player's window from its start, and the first sound from a
# play given at once after the open (soundfont load and stream start included), for
# sequora-mci and for `fluidsynth -a pulseaudio -z 1024` loading and playing the same
# song with the same soundfont. Then the player as a file manager starts it: `sequora
# SONG` with no player running (a cold start, to the song's first sound), and `sequora
# SONG` handed to a player that runs already, on a private session bus; the hand-over
# must not be slower than the cold start. Sound is heard on the monitor of a null sink of
# a private PulseAudio server; the first 20 ms above -44 dBFS counts as the first sound.
#
#   bench/startup.sh [SONG.mid]
#   env: BUILD=build folder (default: build), SEQUORA_SOUNDFONT (default: FluidR3_GM, the
#        one the player takes), ROUNDS (default 3), COLD=1 (as root: the page cache is
#        dropped before each start, so the soundfont and the song come from the disk)
set -eu

song=${1:-/usr/share/games/openttd/baseset/openmsx/5432gone_redfarn.mid}
build=$(readlink -f "${BUILD:-build}")
rounds=${ROUNDS:-3}
soundfont=${SEQUORA_SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
mci="$build/bin/sequora-mci"
gui="$build/bin/sequora"
for need in pulseaudio parec fluidsynth Xvfb xdotool python3 dbus-daemon dbus-send; do
    command -v "$need" >/dev/null || { echo "startup: needs $need" >&2; exit 1; }
done
[ -x "$mci" ] && [ -x "$gui" ] || { echo "startup: build $build first" >&2; exit 1; }
[ -f "$song" ] && [ -f "$soundfont" ] || { echo "startup: needs a song and a soundfont" >&2; exit 1; }
song=$(readlink -f "$song")

tmp=$(mktemp -d)
pulse_pid=
xvfb_pid=
bus_pid=
cleanup() {
    for p in $xvfb_pid $pulse_pid $bus_pid; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -m 700 "$tmp/pulse-home" "$tmp/pulse-run"
HOME="$tmp/pulse-home" XDG_RUNTIME_DIR="$tmp/pulse-run" pulseaudio -n --daemonize=no \
    --exit-idle-time=-1 --log-target=stderr --log-level=error --use-pid-file=no \
    -L "module-null-sink sink_name=bench" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$tmp/pulse.sock" 2>/dev/null &
pulse_pid=$!
export PULSE_SERVER="unix:$tmp/pulse.sock"
tries=0
while [ ! -S "$tmp/pulse.sock" ] && [ "$tries" -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
[ -S "$tmp/pulse.sock" ] || { echo "startup: no PulseAudio server" >&2; exit 1; }

# Seconds from starting the command given to the first sound on the sink.
first_sound() {
    python3 - "$@" <<'EOF'
import os, struct, subprocess, sys, time
rec = subprocess.Popen(["parec", "--raw", "--format=s16le", "--channels=2", "--rate=44100",
                        "--latency-msec=10", "-d", "bench.monitor"], stdout=subprocess.PIPE)
time.sleep(0.5)
start = time.monotonic()
player = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
heard = None
while time.monotonic() - start < 20:
    chunk = rec.stdout.read(882 * 4)
    if not chunk:
        break
    if max(abs(v) for v in struct.unpack("<%dh" % (len(chunk) // 2), chunk)) > 200:
        heard = time.monotonic() - start
        break
player.kill(); rec.kill()
print("%.3f" % heard if heard is not None else "none")
EOF
}

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$tmp/display" >/dev/null 2>&1 &
xvfb_pid=$!
tries=0
while [ ! -s "$tmp/display" ] && [ "$tries" -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
display=":$(cat "$tmp/display")"

# Seconds from starting the player to its window on the screen.
window_after() {
    mkdir -p "$tmp/home$1"
    start=$(date +%s.%N)
    (cd "$tmp" && exec env -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORM HOME="$tmp/home$1" DISPLAY="$display" \
        SEQUORA_SOUNDFONT="$soundfont" SEQUORA_AUDIO_DRIVER=pulseaudio "$gui") >/dev/null 2>&1 &
    pid=$!
    # Asked every 10 ms: xdotool's own --sync looks only twice a second.
    tries=0
    until DISPLAY="$display" xdotool search --all --onlyvisible --pid "$pid" --name '^Sequora$' >/dev/null 2>&1; do
        tries=$((tries + 1))
        [ "$tries" -lt 2000 ] || { echo "startup: the player's window did not appear" >&2; exit 1; }
        sleep 0.01
    done
    shown=$(date +%s.%N)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    awk -v a="$start" -v b="$shown" 'BEGIN { printf "%.3f", b - a }'
}

# A session bus of the script's own, for the player's hand-over.
dbus-daemon --session --nofork --print-address=1 >"$tmp/bus" 2>/dev/null &
bus_pid=$!
tries=0
while [ ! -s "$tmp/bus" ] && [ "$tries" -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
bus=$(head -n 1 "$tmp/bus")
[ -n "$bus" ] || { echo "startup: no session bus" >&2; exit 1; }

# The environment a player of round $1 runs in: a home and settings of its own.
player_env() {
    mkdir -p "$tmp/home$1"
    mkdir -p -m 700 "$tmp/home$1/run"
    echo "HOME=$tmp/home$1 XDG_CONFIG_HOME=$tmp/home$1/.config XDG_RUNTIME_DIR=$tmp/home$1/run"
}

player_on_bus() {
    DBUS_SESSION_BUS_ADDRESS="$bus" dbus-send --session --print-reply --dest=org.freedesktop.DBus \
        / org.freedesktop.DBus.NameHasOwner string:org.example.sequora 2>/dev/null | grep -q 'boolean true'
}

# `sequora SONG` with no player running: a cold start, to the song's first sound.
cold_file() {
    # shellcheck disable=SC2046
    (cd "$tmp" && first_sound env -u QT_QPA_PLATFORM $(player_env "$1") DISPLAY="$display" \
        DBUS_SESSION_BUS_ADDRESS="$bus" SEQUORA_SOUNDFONT="$soundfont" \
        SEQUORA_AUDIO_DRIVER=pulseaudio SEQUORA_MIDI_OUT=fluidsynth "$gui" "$song")
}

# `sequora SONG` handed over to a player that has been running (its soundfont loaded).
handed_over() {
    # shellcheck disable=SC2046
    (cd "$tmp" && exec env -u QT_QPA_PLATFORM $(player_env "$1") DISPLAY="$display" \
        DBUS_SESSION_BUS_ADDRESS="$bus" SEQUORA_SOUNDFONT="$soundfont" \
        SEQUORA_AUDIO_DRIVER=pulseaudio SEQUORA_MIDI_OUT=fluidsynth "$gui") >/dev/null 2>&1 &
    running=$!
    tries=0
    until player_on_bus; do
        tries=$((tries + 1))
        [ "$tries" -lt 500 ] || { echo "startup: the player did not come on the bus" >&2; exit 1; }
        sleep 0.01
    done
    sleep 3
    # shellcheck disable=SC2046
    result=$(cd "$tmp" && first_sound env -u QT_QPA_PLATFORM $(player_env "$1") DISPLAY="$display" \
        DBUS_SESSION_BUS_ADDRESS="$bus" "$gui" "$song")
    kill "$running" 2>/dev/null || true
    wait "$running" 2>/dev/null || true
    tries=0
    while player_on_bus && [ "$tries" -lt 500 ]; do sleep 0.01; tries=$((tries + 1)); done
    echo "$result"
}

echo "song $song, soundfont $soundfont, private PulseAudio null sink, seconds"
echo "round  window  sequora-mci first sound  fluidsynth first sound  ratio  sequora SONG cold  handed over  ratio"
cold() {
    if [ "${COLD:-0}" = 1 ]; then
        sync
        echo 3 >/proc/sys/vm/drop_caches || { echo "startup: COLD=1 needs root" >&2; exit 1; }
    fi
}
for round in $(seq "$rounds"); do
    cold
    window=$(window_after "$round")
    cold
    ours=$(SEQUORA_MIDI_OUT=fluidsynth SEQUORA_AUDIO_DRIVER=pulseaudio SEQUORA_SOUNDFONT="$soundfont" \
        first_sound "$mci" "open $song type sequencer alias m" "play m" "wait 20000")
    cold
    theirs=$(first_sound fluidsynth -ni -a pulseaudio -z 1024 "$soundfont" "$song")
    ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else print "-" }')
    cold
    coldfile=$(cold_file "$round")
    handed=$(handed_over "$round")
    handratio=$(awk -v a="$handed" -v b="$coldfile" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else print "-" }')
    printf "%5s  %6s  %23s  %22s  %5s  %17s  %11s  %5s\n" "$round" "$window" "$ours" "$theirs" "$ratio" \
        "$coldfile" "$handed" "$handratio"
done
