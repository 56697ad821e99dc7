#!/usr/bin/env python3
"""Writes the small MIDI files under valid/ and invalid/ that tst_song_tolerance walks.

Encoded here by hand, independently of the C++ test writer, so a fault shared by the
writer and the reader cannot hide. Run it again after changing a case; the files are
committed so the tests need no Python.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def varlen(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, 0x80 | (n & 0x7F))
        n >>= 7
    return bytes(out)


def chunk(cid, body, length=None):
    return cid + struct.pack(">I", len(body) if length is None else length) + body


def header(fmt, ntrks, division, extra=b""):
    return chunk(b"MThd", struct.pack(">HHH", fmt, ntrks, division) + extra)


def ev(delta, *data):
    return varlen(delta) + bytes(data)


def meta(delta, kind, payload):
    return varlen(delta) + bytes([0xFF, kind]) + varlen(len(payload)) + payload


EOT = meta(0, 0x2F, b"")
TEMPO_120 = meta(0, 0x51, (500000).to_bytes(3, "big"))


def notes(ch=0, count=4, step=240, key=60):
    body = b""
    for i in range(count):
        body += ev(0 if i == 0 else step, 0x90 | ch, key + i, 100) + ev(step, 0x80 | ch, key + i, 64)
    return body


def smf(fmt, division, tracks, extra_chunks=b""):
    return header(fmt, len(tracks), division) + extra_chunks + b"".join(chunk(b"MTrk", t) for t in tracks)


def rmid(data):
    pad = b"\0" if len(data) % 2 else b""
    body = b"RMID" + chunk(b"data", data) + pad
    return b"RIFF" + struct.pack("<I", len(body)) + body


VALID = {
    "format0.mid": smf(0, 96, [TEMPO_120 + notes() + EOT]),
    "format1-tempo-track.mid": smf(1, 480, [TEMPO_120 + meta(960, 0x51, (300000).to_bytes(3, "big")) + EOT,
                                            notes(0) + EOT, notes(1, key=48) + EOT]),
    "format2-patterns.mid": smf(2, 480, [notes(0) + EOT, notes(9, key=36) + EOT]),
    "smpte-25fps.mid": smf(0, ((256 - 25) << 8) | 40, [notes(step=500) + EOT]),
    "smpte-2997fps.mid": smf(0, ((256 - 29) << 8) | 80, [notes(step=800) + EOT]),
    "running-status-across-meta.mid": smf(0, 480, [
        ev(0, 0x90, 60, 100) + ev(120, 64, 100) + meta(0, 0x01, b"lyric") + ev(120, 67, 100)
        + ev(0, 0xF0, 3, 0x7E, 0x7F, 0xF7) + ev(240, 60, 0) + ev(0, 64, 0) + ev(0, 67, 0) + EOT]),
    "sysex-gm-reset-and-escape.mid": smf(0, 480, [
        ev(0, 0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7) + ev(0, 0xF7, 1, 0xF8) + notes() + EOT]),
    "rmid-wrapped.mid": rmid(smf(1, 480, [TEMPO_120 + EOT, notes() + EOT])),
    "long-header-and-unknown-chunk.mid": header(1, 1, 480, b"\0\0\0\0") + chunk(b"XFIH", b"abc")
                                         + chunk(b"MTrk", notes() + EOT),
    "no-end-of-track.mid": smf(0, 480, [notes()]),
    "last-byte-missing.mid": smf(0, 480, [notes() + EOT])[:-1],
    "track-runs-past-end.mid": header(0, 1, 480) + chunk(b"MTrk", notes() + EOT, 0xFFFFFFFF),
}

INVALID = {
    "empty.mid": b"",
    "text.mid": b"This is a text file with a .mid name.\n",
    "header-cut-short.mid": b"MThd\0\0\0\x06\0\x01",
    "no-tracks.mid": header(1, 0, 480),
    "no-mtrk-chunk.mid": header(1, 1, 480) + chunk(b"JUNK", b"1234"),
    "division-zero.mid": smf(0, 0, [notes() + EOT]),
    "smpte-bad-rate.mid": smf(0, ((256 - 23) << 8) | 40, [notes() + EOT]),
    "riff-wave.mid": b"RIFF" + struct.pack("<I", 16) + b"WAVEfmt " + struct.pack("<I", 0),
    "rmid-without-data.mid": b"RIFF" + struct.pack("<I", 16) + b"RMID" + chunk(b"LIST", b"abcd"),
}


def main():
    for folder, files in (("valid", VALID), ("invalid", INVALID)):
        os.makedirs(os.path.join(HERE, folder), exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(HERE, folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
