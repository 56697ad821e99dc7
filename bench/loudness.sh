#!/bin/sh
# Loudness: RMS level, peak and flat factor (sox `stats`, both channels together) of
# sequora-render against `fluidsynth -ni -F` and `timidity -Ow` rendering the same songs
# with the same soundfont, one line per song, then the quietest RMS, the loudest peak,
# the songs with clipped runs (flat factor > 0) and Sequora's level against FluidSynth's.
# TiMidity's own config maps every program to its packaged font explicitly, which a
# `soundfont` line cannot override, so it runs with a config of just that line in a
# private mount namespace (or, where that is refused, on its own config, as said).
#
#   bench/loudness.sh [SONG.mid ...]     (default: the openmsx songs)
#   env: BUILD=build folder (default: build), SEQUORA_SOUNDFONT (default: TimGM6mb)
set -eu

build=${BUILD:-build}
render="$build/bin/sequora-render"
soundfont=${SEQUORA_SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}
openmsx=/usr/share/games/openttd/baseset/openmsx

for need in sox fluidsynth timidity; do
    command -v "$need" >/dev/null || { echo "loudness: needs $need" >&2; exit 1; }
done
[ -x "$render" ] || { echo "loudness: build $render first (BUILD=folder)" >&2; exit 1; }
[ -f "$soundfont" ] || { echo "loudness: no soundfont $soundfont" >&2; exit 1; }
if [ $# -eq 0 ]; then
    set -- "$openmsx"/*.mid
    [ -f "$1" ] || { echo "loudness: no songs (install openttd-openmsx or name some)" >&2; exit 1; }
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM

printf 'soundfont %s\n' "$soundfont" >"$tmp/timidity.cfg"
timidity_with_font() {
    if [ "$(id -u)" -eq 0 ]; then ns="unshare -m"; else ns="unshare -rm"; fi
    # shellcheck disable=SC2086
    $ns sh -c 'mount --bind "$1" /etc/timidity/timidity.cfg && shift && exec timidity "$@"' \
        sh "$tmp/timidity.cfg" "$@"
}
timidity_font="$soundfont only"
if ! timidity_with_font -v >/dev/null 2>&1; then
    timidity_with_font() { timidity -x "soundfont $soundfont" "$@"; }
    timidity_font="its own config (the soundfont given could not be made the only one)"
fi

# "RMS Pk Flat" of a WAV file (overall column); -inf comes out as -999.
levels() {
    sox "$1" -n stats 2>&1 | awk '
        /^RMS lev dB/ { rms = $4 } /^Pk lev dB/ { pk = $4 } /^Flat factor/ { flat = $3 }
        END { if (rms == "-inf" || rms == "") rms = -999; if (pk == "-inf" || pk == "") pk = -999
              if (flat == "") flat = 0; print rms, pk, flat }'
}

echo "soundfont $soundfont, 44100 Hz; sequora = $render"
echo "timidity plays with $timidity_font"
printf '%-28s %22s %22s %22s %8s\n' "" "sequora-render" "fluidsynth -F" "timidity -Ow" "seq-fs"
printf '%-28s %7s %7s %6s %7s %7s %6s %7s %7s %6s %8s\n' song \
    RMS Pk Flat RMS Pk Flat RMS Pk Flat "RMS dB"
for song in "$@"; do
    name=$(basename "$song")
    "$render" "$song" "$tmp/ours.wav" --rate 44100 --soundfont "$soundfont" >/dev/null 2>&1 \
        || { echo "loudness: sequora-render failed on $song" >&2; exit 1; }
    fluidsynth -ni -F "$tmp/fs.wav" -r 44100 "$soundfont" "$song" >/dev/null 2>&1 \
        || { echo "loudness: fluidsynth failed on $song" >&2; exit 1; }
    timidity_with_font -Ow -s 44100 -o "$tmp/tim.wav" "$song" >/dev/null 2>&1 \
        || { echo "loudness: timidity failed on $song" >&2; exit 1; }
    echo "$name $(levels "$tmp/ours.wav") $(levels "$tmp/fs.wav") $(levels "$tmp/tim.wav")" >>"$tmp/table"
    rm -f "$tmp/ours.wav" "$tmp/fs.wav" "$tmp/tim.wav"
    tail -n 1 "$tmp/table" | awk '{
        printf "%-28s %7.2f %7.2f %6.2f %7.2f %7.2f %6.2f %7.2f %7.2f %6.2f %+8.2f\n",
            $1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $2 - $5 }'
done

awk '
    function track(i, rms, pk, flat, name) {
        if (!(i in minrms) || rms < minrms[i]) { minrms[i] = rms; quiet[i] = name }
        if (!(i in maxpk) || pk > maxpk[i]) { maxpk[i] = pk; loud[i] = name }
        if (flat > 0) { nflat[i]++; flats[i] = flats[i] " " name }
        if (pk > -0.3) over[i]++
    }
    {
        track(1, $2, $3, $4, $1); track(2, $5, $6, $7, $1); track(3, $8, $9, $10, $1)
        diff += $2 - $5; n++
    }
    END {
        split("sequora-render fluidsynth timidity", label, " ")
        for (i = 1; i <= 3; i++)
            printf "%-15s quietest %7.2f dB RMS (%s), loudest peak %6.2f dBFS (%s), peaks over -0.3: %d, flat factor > 0: %d%s\n",
                label[i], minrms[i], quiet[i], maxpk[i], loud[i], over[i] + 0, nflat[i] + 0, flats[i]
        d = diff / n
        printf "sequora RMS - fluidsynth RMS, mean over %d songs: %+.2f dB (amplitude ratio %.2f)\n", n, d, 10 ^ (d / 20)
        ok = minrms[1] >= -26 && maxpk[1] <= -0.3 && nflat[1] == 0
        printf "goal: quietest >= -26 dB RMS, every peak <= -0.3 dBFS, flat factor 0: %s\n", ok ? "met" : "NOT met"
    }' "$tmp/table"
