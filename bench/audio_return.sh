#!/bin/sh
# How soon the sound is back when the audio server comes back: a private PulseAudio server
# (null sink) is killed and started again, and the time from its return (its socket there
# again) to the first sound on the new sink's monitor is measured, for
#   - stopped: a player that was stopped when the server went away, given play at once
#     on the server's return;
#   - playing: a song playing on, silently, on the output's own clock while the server was
#     gone (two seconds), heard again with no command given;
# beside the same player's plain play from stopped with the server there all along (the
# wake from rest), `fluidsynth -a pulseaudio -z 1024` playing the same song through the
# same kill and restart, and a new fluidsynth started with the song on the server's return
# (what restarting the program gives: the peer; a new stream on a server just started
# may stand still for a while before the server runs it). "none" is no sound within the
# limit (LIMIT seconds, default 10). The song is a note every 100 ms, so a figure is at
# most that late for the music; the first 20 ms above -44 dBFS counts as sound.
#
#   bench/audio_return.sh
#   env: BUILD=build folder (default: build), SEQUORA_SOUNDFONT (default: TimGM6mb),
#        ROUNDS (default 3), LIMIT (default 10)
set -eu

build=$(readlink -f "${BUILD:-build}")
rounds=${ROUNDS:-3}
limit=${LIMIT:-10}
soundfont=${SEQUORA_SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}
mci="$build/bin/sequora-mci"
for need in pulseaudio parec fluidsynth python3; do
    command -v "$need" >/dev/null || { echo "audio_return: needs $need" >&2; exit 1; }
done
[ -x "$mci" ] || { echo "audio_return: build $mci first (BUILD=folder)" >&2; exit 1; }
[ -f "$soundfont" ] || { echo "audio_return: needs the soundfont $soundfont" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM

python3 - "$mci" "$soundfont" "$tmp" "$rounds" "$limit" <<'EOF'
import os, select, statistics, struct, subprocess, sys, time

mci, soundfont, tmp, rounds, limit = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5])
sock = os.path.join(tmp, "pulse.sock")

# A song of a short note every 100 ms for five minutes.
def smf(path):
    def vlq(n):
        out = [n & 0x7F]
        n >>= 7
        while n:
            out.insert(0, 0x80 | (n & 0x7F))
            n >>= 7
        return bytes(out)
    track = bytearray(b"\x00\xc0\x00")  # piano
    for i in range(3000):
        note = 60 + (i * 5) % 24
        track += vlq(0 if i == 0 else 20) + bytes([0x90, note, 100])
        track += vlq(80) + bytes([0x80, note, 0])
    track += b"\x00\xff\x2f\x00"
    with open(path, "wb") as f:
        # 500 ticks a quarter at 120 bpm: a tick is a millisecond.
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 500))
        f.write(b"MTrk" + struct.pack(">I", len(track)) + track)

song = os.path.join(tmp, "notes.mid")
smf(song)
with open(os.path.join(tmp, "client.conf"), "w") as f:
    f.write("autospawn = no\n")
env = dict(os.environ, PULSE_SERVER="unix:" + sock, PULSE_CLIENTCONFIG=os.path.join(tmp, "client.conf"),
           SEQUORA_MIDI_OUT="fluidsynth", SEQUORA_AUDIO_DRIVER="pulseaudio", SEQUORA_SOUNDFONT=soundfont)
env.pop("SEQUORA_MCI_LOG", None)

server = None
def start_server():
    """Starts the server; returns the moment its socket is there."""
    global server
    for d in ("home", "run"):
        os.makedirs(os.path.join(tmp, d), mode=0o700, exist_ok=True)
    if os.path.exists(sock):
        os.unlink(sock)
    senv = dict(os.environ, HOME=os.path.join(tmp, "home"), XDG_RUNTIME_DIR=os.path.join(tmp, "run"))
    server = subprocess.Popen(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                               "--disable-shm=yes", "--log-target=stderr", "--log-level=error",
                               "-L", "module-null-sink sink_name=bench",
                               "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + sock],
                              env=senv, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while not os.path.exists(sock):
        if time.monotonic() > deadline:
            sys.exit("audio_return: no PulseAudio server")
        time.sleep(0.005)
    return time.monotonic()

def kill_server():
    server.kill()
    server.wait()

class Monitor:
    """The sink's monitor, read as it comes."""
    def __init__(self):
        self.rec = subprocess.Popen(["parec", "--raw", "--format=s16le", "--channels=2", "--rate=44100",
                                     "--latency-msec=10", "-d", "bench.monitor"], env=env, stdout=subprocess.PIPE)
    def first_sound(self, until):
        """The moment of the first 20 ms above -44 dBFS, or None by `until`."""
        fd = self.rec.stdout.fileno()
        buf = b""
        while time.monotonic() < until:
            r, _, _ = select.select([fd], [], [], 0.1)
            if not r:
                continue
            chunk = os.read(fd, 65536)
            if not chunk:
                return None
            buf += chunk
            while len(buf) >= 882 * 4:
                block, buf = buf[:882 * 4], buf[882 * 4:]
                if max(abs(v) for v in struct.unpack("<%dh" % (len(block) // 2), block)) > 200:
                    return time.monotonic()
        return None
    def close(self):
        self.rec.kill()
        self.rec.wait()

class Player:
    def __init__(self, argv):
        self.p = subprocess.Popen(argv, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True, bufsize=1)
    def ask(self, line):
        self.p.stdin.write(line + "\n")
        self.p.stdin.flush()
        if not line.startswith("wait"):
            self.p.stdout.readline()
    def close(self):
        try:
            self.p.stdin.close()
        except BrokenPipeError:
            pass
        self.p.kill()
        self.p.wait()

def fmt(t):
    return "none" if t is None else "%.3f" % t

def heard_now(seconds):
    m = Monitor()
    t = m.first_sound(time.monotonic() + seconds)
    m.close()
    return t is not None

def sequora_round():
    start_server()
    p = Player([mci])
    p.ask("open %s type sequencer alias m" % song)
    time.sleep(3.0)  # the soundfont loads, the stream rests
    # The floor: play from stopped with the server there all along.
    m = Monitor()
    time.sleep(0.3)
    t0 = time.monotonic()
    p.ask("play m")
    t = m.first_sound(t0 + limit)
    m.close()
    floor = None if t is None else t - t0
    # Stopped when the server goes away; play at once on its return.
    p.ask("stop m")
    time.sleep(1.0)  # the release tail dies away, the stream rests
    kill_server()
    time.sleep(1.0)
    back = start_server()
    m = Monitor()
    p.ask("play m")
    t = m.first_sound(back + limit)
    m.close()
    stopped = None if t is None else t - back
    # Playing on the silent clock while the server is gone for two seconds.
    if stopped is None:
        p.ask("stop m")  # a player that lost its sound for good: start from the same place
        p.ask("play m")
    elif not heard_now(3):
        print("audio_return: no sound before the kill", file=sys.stderr)
    kill_server()
    time.sleep(2.0)
    back = start_server()
    m = Monitor()
    t = m.first_sound(back + limit)
    m.close()
    playing = None if t is None else t - back
    p.close()
    kill_server()
    return floor, stopped, playing

def fluidsynth():
    return subprocess.Popen(["fluidsynth", "-ni", "-a", "pulseaudio", "-z", "1024", "-g", "0.8", soundfont, song],
                            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

def fluidsynth_round():
    """Seconds to sound for fluidsynth playing through the restart, and for one started anew."""
    start_server()
    m = Monitor()
    f = fluidsynth()
    if m.first_sound(time.monotonic() + limit) is None:
        print("audio_return: fluidsynth made no sound", file=sys.stderr)
    m.close()
    kill_server()
    time.sleep(2.0)
    back = start_server()
    m = Monitor()
    t = m.first_sound(back + limit)
    m.close()
    through = None if t is None else t - back
    f.kill()
    f.wait()
    kill_server()
    time.sleep(1.0)
    back = start_server()
    m = Monitor()
    f = fluidsynth()
    t = m.first_sound(back + limit)
    m.close()
    f.kill()
    f.wait()
    kill_server()
    return through, None if t is None else t - back

print("private PulseAudio null sink killed and started again; seconds from the server's return to sound")
print("round  floor (play, server there)  stopped: play on return  playing on the silent clock"
      "  fluidsynth playing  fluidsynth started anew")
line = "%5s  %26s  %23s  %27s  %18s  %23s"
rows = []
for r in range(1, rounds + 1):
    floor, stopped, playing = sequora_round()
    through, anew = fluidsynth_round()
    rows.append((floor, stopped, playing, through, anew))
    print(line % ((r,) + tuple(fmt(v) for v in rows[-1])))

def median(i):
    vals = [row[i] for row in rows]
    return None if any(v is None for v in vals) else statistics.median(vals)
medians = [median(i) for i in range(5)]
print(line % (("median",) + tuple(fmt(v) for v in medians)))
def ratio(a, b):
    return "-" if a is None or not b else "%.2f" % (a / b)
print("ratio to fluidsynth started anew: stopped %s, playing %s"
      % (ratio(medians[1], medians[4]), ratio(medians[2], medians[4])))
EOF
