#!/bin/sh
# Idle cost: CPU (user + system, all threads, from /proc/PID/stat) and wake-ups (the
# voluntary and involuntary context switches of all its threads, from
# /proc/PID/task/*/status) of sequora-mci holding
# a loaded device stopped, paused and playing, through FluidSynth into a PulseAudio null
# sink and on the null output, beside `fluidsynth -ni -a pulseaudio -z 1024` playing the
# same song (the peer, measured before and after ours and averaged). Each figure is taken
# over SECONDS after a warm-up that covers loading the soundfont and, when paused, the
# release tail. The PulseAudio server is a private one, so nobody else's can go away mid-run.
# With --player (or PLAYER=1) the real player is measured too, under Xvfb in a temp HOME
# on a private session bus with accessibility on (so its media controls and the AT-SPI
# bridge run as on a desktop): idle with an empty playlist, then with the song loaded
# through the playlist editor, stopped, playing and paused (buttons clicked with xdotool;
# a rehearsal run with the command log on checks that the clicks reach the device, the
# measured run has it off). The last lines give what the player costs playing beyond
# sequora-mci playing the same song through the same output. With LYRICS=1 the player's
# lyrics window is opened from the view menu (Alt+V, K) once the song is loaded, so its
# stopped, paused and playing figures compare with a run without it. With PARTS=1 the
# parts window is opened the same way (the view menu, P) and moved off the player; the
# player is then measured both without and with it, and the last lines say what the
# window costs.
#
#   bench/idle_cpu.sh [--player] [SONG.mid] [SECONDS]
#   env: BUILD=build folder (default: build), SEQUORA_SOUNDFONT (default: TimGM6mb),
#        WARMUP seconds (default 5), PLAYER=1, A11Y=0 (player without the session bus),
#        LYRICS=1 (player with its lyrics window open), PARTS=1 (with its parts window open)
set -eu

player=${PLAYER:-0}
if [ "${1:-}" = --player ]; then player=1; shift; fi
song=${1:-/usr/share/games/openttd/baseset/openmsx/tttheme2.mid}
seconds=${2:-20}
build=${BUILD:-build}
warmup=${WARMUP:-5}
a11y=${A11Y:-1}
lyrics=${LYRICS:-0}
parts=${PARTS:-0}
player_row=player
[ "$lyrics" = 1 ] && player_row=player+lyrics
with_parts=0
mci="$build/bin/sequora-mci"
gui="$build/bin/sequora"
soundfont=${SEQUORA_SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}

needs="pulseaudio pactl fluidsynth"
[ "$player" = 1 ] && needs="$needs Xvfb xdotool"
[ "$player" = 1 ] && [ "$a11y" = 1 ] && needs="$needs dbus-daemon"
for need in $needs; do
    command -v "$need" >/dev/null || { echo "idle_cpu: needs $need" >&2; exit 1; }
done
[ -x "$mci" ] || { echo "idle_cpu: build $mci first (BUILD=folder)" >&2; exit 1; }
[ "$player" = 1 ] && { [ -x "$gui" ] || { echo "idle_cpu: no $gui" >&2; exit 1; }; }
[ -f "$song" ] && [ -f "$soundfont" ] || { echo "idle_cpu: needs a song and a soundfont" >&2; exit 1; }
song=$(readlink -f "$song")
# The player starts in the song's folder: its path must not depend on where we are.
gui=$(readlink -f "$gui")

tmp=$(mktemp -d)
pulse_pid=
xvfb_pid=
bus_pid=
child_pid=
stop_pid() {
    if [ -n "$1" ]; then
        kill "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}
cleanup() {
    stop_pid "$child_pid"
    stop_pid "$xvfb_pid"
    [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
    stop_pid "$pulse_pid"
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A private PulseAudio server whose only sink is a null sink.
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
    [ "$tries" -le 50 ] || { echo "idle_cpu: PulseAudio did not start" >&2; cat "$tmp/pulse.log" >&2; exit 1; }
    sleep 0.1
done

ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}
# Context switches of all the threads of a process: each is the process waking up (or
# being pushed off a core), which is what keeps a laptop's processor out of its sleep.
switches() {
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ { n += $2 } END { print n + 0 }'
}
percent() {
    awk -v t="$1" -v hz="$ticks_per_second" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * t / hz / s }'
}
# Sets figure to the CPU of a running process over $seconds, as a percentage of one core,
# and wakes to its wake-ups a second over the same time.
# (No subshells around what is started: the cleanup must know every process.)
sample() {
    kill -0 "$1" 2>/dev/null || { echo "idle_cpu: the process measured ended early" >&2; exit 1; }
    a=$(cpu_ticks "$1")
    wa=$(switches "$1")
    sleep "$seconds"
    b=$(cpu_ticks "$1")
    wb=$(switches "$1")
    figure=$(percent "$((b - a))")
    wakes=$(awk -v n="$((wb - wa))" -v s="$seconds" 'BEGIN { printf "%.1f", n / s }')
}
# Starts the command given, waits $1 seconds, measures, stops it.
measure() {
    settle=$1
    shift
    "$@" >/dev/null 2>&1 &
    child_pid=$!
    sleep "$settle"
    sample "$child_pid"
    stop_pid "$child_pid"
    child_pid=
}

wait_ms=$(( (warmup + seconds + 10) * 1000 ))
open="open $song type sequencer alias m"
# engine OUTPUT SETTLE [COMMAND...]: sequora-mci opens the song, runs the commands, holds on.
engine() {
    out=$1
    settle=$2
    shift 2
    SEQUORA_MIDI_OUT=$out SEQUORA_AUDIO_DRIVER=pulseaudio SEQUORA_SOUNDFONT="$soundfont" \
        measure "$settle" "$mci" "$open" "$@" "wait $wait_ms"
}

echo "song $song, soundfont $soundfont"
echo "CPU % of one core and wake-ups a second over $seconds s each, after ${warmup} s warm-up; PulseAudio null sink; load average $(cut -d' ' -f1-3 /proc/loadavg)"
measure "$warmup" fluidsynth -ni -a pulseaudio -z 1024 "$soundfont" "$song"
peer1=$figure
rows=""
for out in fluidsynth null; do
    engine "$out" "$warmup"
    stopped="$figure $wakes"
    engine "$out" $((warmup + 2)) "play m" "wait 2000" "pause m"
    paused="$figure $wakes"
    engine "$out" "$warmup" "play m"
    playing="$figure $wakes"
    rows="$rows
sequora-mci $out $stopped $paused $playing"
done

# The real player: $1 output; $2 "measure" or a command log to rehearse with. The
# figures go to $tmp/player.figures (not a subshell: the cleanup must know the player).
player_run() {
    mkdir -p "$tmp/home" "$tmp/music"
    mkdir -m 700 -p "$tmp/xdg"
    ln -sf "$song" "$tmp/music/"
    log=
    [ "$2" = measure ] || log=$2
    (cd "$tmp/music" && exec env -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORM HOME="$tmp/home" \
        ${bus_address:+DBUS_SESSION_BUS_ADDRESS="$bus_address" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1} \
        XDG_RUNTIME_DIR="$tmp/xdg" DISPLAY="$display" SEQUORA_MIDI_OUT="$1" \
        SEQUORA_AUDIO_DRIVER=pulseaudio SEQUORA_SOUNDFONT="$soundfont" SEQUORA_MCI_LOG="$log" \
        "$gui") >/dev/null 2>"$tmp/player.err" &
    child_pid=$!
    main=$(DISPLAY="$display" timeout 20 xdotool search --sync --all --onlyvisible --pid "$child_pid" --name '^Sequora$' | head -n 1)
    [ -n "$main" ] || { echo "idle_cpu: the player's window did not appear" >&2; cat "$tmp/player.err" >&2; exit 1; }
    settle() {
        if [ "$1" = measure ]; then sleep "$warmup"; sample "$child_pid"; else sleep 1; figure=- wakes=-; fi
    }
    click() { DISPLAY="$display" xdotool mousemove --window "$1" "$2" "$3" click 1; }
    settle "$2"
    empty="$figure $wakes"
    click "$main" 292 94 # eject: the playlist editor
    editor=
    tries=0
    while [ -z "$editor" ] && [ "$tries" -lt 50 ]; do
        editor=$(DISPLAY="$display" xdotool search --onlyvisible --pid "$child_pid" 2>/dev/null | grep -vx "$main" | head -n 1 || true)
        tries=$((tries + 1))
        sleep 0.2
    done
    [ -n "$editor" ] || { echo "idle_cpu: the playlist editor did not open" >&2; exit 1; }
    sleep 0.5
    click "$editor" 324 148 # add all
    sleep 0.5
    click "$editor" 252 412 # OK
    if [ "$with_parts" = 1 ]; then
        sleep 0.5
        click "$main" 90 8 # the view menu
        sleep 0.5
        DISPLAY="$display" xdotool key p
        tries=0
        until partswin=$(DISPLAY="$display" xdotool search --onlyvisible --pid "$child_pid" --name '^ﾊﾟｰﾄ$' 2>/dev/null | head -n 1) && [ -n "$partswin" ]; do
            tries=$((tries + 1))
            [ "$tries" -le 50 ] || { echo "idle_cpu: the parts window did not open" >&2; exit 1; }
            sleep 0.2
        done
        # Off the player, whose buttons are clicked next.
        DISPLAY="$display" xdotool windowmove "$partswin" 0 0
    fi
    if [ "$lyrics" = 1 ]; then
        sleep 0.5
        DISPLAY="$display" xdotool key --window "$main" alt+v k
        tries=0
        until DISPLAY="$display" xdotool search --onlyvisible --pid "$child_pid" --name '^歌詞$' >/dev/null 2>&1; do
            tries=$((tries + 1))
            [ "$tries" -le 50 ] || { echo "idle_cpu: the lyrics window did not open" >&2; exit 1; }
            sleep 0.2
        done
    fi
    settle "$2"
    stopped="$figure $wakes"
    click "$main" 220 62 # play
    settle "$2"
    playing="$figure $wakes"
    click "$main" 268 62 # pause
    settle "$2"
    paused="$figure $wakes"
    stop_pid "$child_pid"
    child_pid=
    echo "$empty $stopped $paused $playing" >"$tmp/player.figures"
}

if [ "$player" = 1 ]; then
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$tmp/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    tries=0
    until [ -s "$tmp/display" ]; do
        tries=$((tries + 1))
        [ "$tries" -le 50 ] || { echo "idle_cpu: Xvfb did not start" >&2; exit 1; }
        sleep 0.1
    done
    display=":$(cat "$tmp/display")"
    bus_address=
    if [ "$a11y" = 1 ]; then
        # A private session bus; the accessibility bus starts on it when the player asks.
        dbus-daemon --session --fork --print-address=3 --print-pid=4 \
            3>"$tmp/bus.address" 4>"$tmp/bus.pid" >/dev/null 2>&1
        bus_pid=$(cat "$tmp/bus.pid")
        bus_address=$(cat "$tmp/bus.address")
        [ -n "$bus_address" ] || { echo "idle_cpu: dbus-daemon did not start" >&2; exit 1; }
    fi
    tab=$(printf '\t')
    for out in fluidsynth null; do
        player_run "$out" "$tmp/mci.log"
        for verb in open play pause; do
            grep -q "^\"$verb .*\"${tab}0${tab}" "$tmp/mci.log" \
                || { echo "idle_cpu: the clicks did not reach the player ($verb missing)" >&2; exit 1; }
        done
        rm -f "$tmp/mci.log"
        player_run "$out" measure
        # shellcheck disable=SC2046
        set -- $(cat "$tmp/player.figures")
        rows="$rows
player-empty $out $1 $2 - - - -
$player_row $out $3 $4 $5 $6 $7 $8"
        if [ "$parts" = 1 ]; then
            with_parts=1
            player_run "$out" "$tmp/mci.log"
            grep -q "^\"play .*\"${tab}0${tab}" "$tmp/mci.log" \
                || { echo "idle_cpu: the clicks did not reach the player beside its parts window" >&2; exit 1; }
            rm -f "$tmp/mci.log"
            player_run "$out" measure
            with_parts=0
            # shellcheck disable=SC2046
            set -- $(cat "$tmp/player.figures")
            rows="$rows
$player_row+parts $out $3 $4 $5 $6 $7 $8"
        fi
    done
fi
measure "$warmup" fluidsynth -ni -a pulseaudio -z 1024 "$soundfont" "$song"
peer2=$figure

echo "$rows" | awk -v p1="$peer1" -v p2="$peer2" -v a11y="$a11y" '
    function cell(x) { return x == "-" ? sprintf("%15s", "-") : sprintf("%6.2f (%5.3fx)", x, x / peer) }
    function wake(x) { return x == "-" ? sprintf("%9s", "-") : sprintf("%9.1f", x) }
    BEGIN {
        peer = (p1 + p2) / 2
        printf "peer: fluidsynth -a pulseaudio -z 1024 playing: %.2f %% (%.2f before, %.2f after ours)\n", peer, p1, p2
        printf "%-14s %-11s %15s %15s %15s   %9s %9s %9s\n", "program", "output", "CPU stopped", "paused", "playing", "wakes stop", "paused", "playing"
    }
    NF == 8 {
        printf "%-14s %-11s %s %s %s   %s %s %s\n", $1, $2, cell($3), cell($5), cell($7), wake($4), wake($6), wake($8)
        if ($1 == "sequora-mci") { mci[$2] = $7; mciw[$2] = $8 }
        if ($1 ~ /^player($|\+lyrics$)/) { gui[$2] = $7; guiw[$2] = $8 }
        if ($1 ~ /\+parts$/) { parts[$2] = $7; partsw[$2] = $8; partsStop[$2] = $3 " " $4; partsPause[$2] = $5 " " $6 }
    }
    END {
        print "(CPU: % of one core, in brackets the ratio to the peer; wakes: context switches of all"
        print " threads a second; player-empty: no playlist)"
        for (out in gui)
            printf "player over sequora-mci playing, %s: %+.2f %% of a core, %+.1f wake-ups/s%s\n",
                out, gui[out] - mci[out], guiw[out] - mciw[out], a11y == 1 ? " (accessibility on)" : ""
        for (out in parts)
            printf "parts window open, playing, %s: %+.2f %% of a core, %+.1f wake-ups/s over the player without it (stopped: %s, paused: %s %%, wake-ups)\n",
                out, parts[out] - gui[out], partsw[out] - guiw[out], partsStop[out], partsPause[out]
    }'
echo "load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
