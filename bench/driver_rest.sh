#!/bin/sh
# What a loaded player costs while nothing plays, per audio driver: CPU (all threads, from
# /proc/PID/task/*/schedstat) and wake-ups (the context switches of all its threads) of
# sequora-mci holding a song stopped, then paused once the notes have died away, through
# FluidSynth's PulseAudio driver and ALSA driver (ALSA reaching a private PulseAudio
# server's null sink through its PulseAudio plugin: the paced ALSA device a machine
# without a sound card has) and JACK's (a private jackd on its dummy driver), beside
# `fluidsynth -n -z 1024` idle through the same driver with the same soundfont (the peer,
# which streams its synthesiser's silence). Each figure is taken over SECONDS.
#
#   bench/driver_rest.sh [SONG.mid] [SECONDS]
#   env: BUILD=build folder (default: build), SEQUORA_SOUNDFONT (default: TimGM6mb),
#        DRIVERS (default: "pulseaudio alsa jack")
set -eu

song=${1:-/usr/share/games/openttd/baseset/openmsx/tttheme2.mid}
seconds=${2:-10}
build=$(readlink -f "${BUILD:-build}")
soundfont=${SEQUORA_SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}
drivers=${DRIVERS:-pulseaudio alsa jack}
mci="$build/bin/sequora-mci"
for need in pulseaudio jackd jack_wait fluidsynth python3; do
    command -v "$need" >/dev/null || { echo "driver_rest: needs $need" >&2; exit 1; }
done
[ -x "$mci" ] || { echo "driver_rest: build $mci first (BUILD=folder)" >&2; exit 1; }
[ -f "$soundfont" ] || { echo "driver_rest: needs the soundfont $soundfont" >&2; exit 1; }
[ -f "$song" ] || { echo "driver_rest: needs a song ($song)" >&2; exit 1; }
song=$(readlink -f "$song")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM

python3 - "$mci" "$soundfont" "$tmp" "$seconds" "$song" $drivers <<'EOF'
import glob, os, subprocess, sys, time

mci, soundfont, tmp, seconds, song, drivers = (sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]),
                                              sys.argv[5], sys.argv[6:])

sock = os.path.join(tmp, "pulse.sock")
# One name always: a JACK server killed stays in its registry of servers, which holds eight.
jack_name = "sequora-bench"
with open(os.path.join(tmp, "client.conf"), "w") as f:
    f.write("autospawn = no\n")
with open(os.path.join(tmp, "asound.conf"), "w") as f:
    f.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n")
base = dict(os.environ, PULSE_SERVER="unix:" + sock, PULSE_CLIENTCONFIG=os.path.join(tmp, "client.conf"),
            ALSA_CONFIG_PATH=os.path.join(tmp, "asound.conf"), JACK_DEFAULT_SERVER=jack_name,
            JACK_NO_START_SERVER="1", SEQUORA_MIDI_OUT="fluidsynth", SEQUORA_SOUNDFONT=soundfont)
base.pop("SEQUORA_MCI_LOG", None)

def start_pulse():
    for d in ("home", "run"):
        os.makedirs(os.path.join(tmp, d), mode=0o700, exist_ok=True)
    senv = dict(os.environ, HOME=os.path.join(tmp, "home"), XDG_RUNTIME_DIR=os.path.join(tmp, "run"))
    p = subprocess.Popen(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                          "--disable-shm=yes", "--log-target=stderr", "--log-level=error",
                          "-L", "module-null-sink sink_name=bench",
                          "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + sock],
                         env=senv, stderr=subprocess.DEVNULL)
    while not os.path.exists(sock):
        time.sleep(0.01)
    return p

def start_jack():
    p = subprocess.Popen(["jackd", "-n", jack_name, "--no-realtime", "-d", "dummy", "-r", "44100", "-p", "1024"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["jack_wait", "-s", jack_name, "-w", "-t", "20"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, env=base)
    return p

def sample(pid):
    ns = switches = 0
    for task in glob.glob("/proc/%d/task/*" % pid):
        try:
            ns += int(open(task + "/schedstat").read().split()[0])
            for line in open(task + "/status"):
                if "ctxt_switches" in line:
                    switches += int(line.split()[1])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return ns, switches

def cost(pid):
    """CPU milliseconds a second and wake-ups a second over `seconds`."""
    a = sample(pid)
    time.sleep(seconds)
    b = sample(pid)
    return (b[0] - a[0]) / 1e6 / seconds, (b[1] - a[1]) / seconds

def ours(driver):
    env = dict(base, SEQUORA_AUDIO_DRIVER=driver)
    p = subprocess.Popen([mci], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         text=True, bufsize=1)
    def ask(line):
        p.stdin.write(line + "\n")
        p.stdin.flush()
        p.stdout.readline()
    ask("open %s type sequencer alias m" % song)
    time.sleep(4)
    stopped = cost(p.pid)
    ask("play m")
    time.sleep(2)
    ask("pause m")
    time.sleep(4)  # the notes' release and the reverb's tail
    paused = cost(p.pid)
    ask("close m")
    p.stdin.close()
    p.wait()
    return stopped, paused

def peer(driver):
    # Its shell on a pipe that stays open keeps it running with nothing to play.
    f = subprocess.Popen(["fluidsynth", "-n", "-a", driver, "-z", "1024", soundfont], env=base,
                         stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(3)
    c = cost(f.pid)
    f.kill()
    f.wait()
    return c

print("CPU in ms a second (1 ms/s = 0.1 %% of a core) and wake-ups a second, over %g s" % seconds)
print("%-11s %-8s %22s %28s" % ("driver", "state", "sequora-mci cpu  wakeups", "fluidsynth idle cpu  wakeups"))
for driver in drivers:
    server = start_jack() if driver == "jack" else start_pulse()
    stopped, paused = ours(driver)
    theirs = peer(driver)
    for state, c in (("stopped", stopped), ("paused", paused)):
        print("%-11s %-8s %15.2f %8.1f %20.2f %8.1f" % (driver, state, c[0], c[1], theirs[0], theirs[1]))
    server.terminate()
    server.wait()
    if os.path.exists(sock):
        os.unlink(sock)
EOF
