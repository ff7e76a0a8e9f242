#!/bin/sh
# Remakes samples/speech16k.wav: a few seconds of synthetic English speech, one channel, 16 kHz,
# 16-bit PCM with the canonical 44-byte header. Needs espeak-ng and sox (Debian packages of the
# same names). The result depends only on those two programs' versions.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/samples/speech16k.wav"
text="The quick brown fox jumps over the lazy dog. Seven slow sailors sing softly by the sea."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

espeak-ng -v en-us -s 150 -w "$work/voice.wav" "$text"
# Resample to 16 kHz, one channel, 16-bit; no dither, so the output is the same on every run.
sox -D "$work/voice.wav" -t raw -r 16000 -c 1 -b 16 -e signed-integer -L "$work/samples.raw"

# sox may add chunks to a wave header; write the canonical 44 bytes ourselves.
little32() {
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) \
        $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}
little16() {
    printf "$(printf '\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)))"
}
bytes=$(wc -c < "$work/samples.raw")
mkdir -p "$root/samples"
{
    printf 'RIFF'; little32 $((36 + bytes)); printf 'WAVE'
    printf 'fmt '; little32 16; little16 1; little16 1
    little32 16000; little32 32000; little16 2; little16 16
    printf 'data'; little32 "$bytes"
    cat "$work/samples.raw"
} > "$out"
echo "wrote $out ($((44 + bytes)) bytes)"
