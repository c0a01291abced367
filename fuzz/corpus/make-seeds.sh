#!/usr/bin/env bash
# Writes the seed corpora again (they are kept in the repository; run by hand after a format
# change). Needs the ffmpeg program of the set-up's package list.
#   bash fuzz/corpus/make-seeds.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
mkdir -p configuration playlist probe walk factscache
crlf() { printf '%s\r\n' "$@"; }

# ---- qnd.cfg: first-run values as the program saves them, and damaged ones ----
cocktails() {  # NAME-PREFIX FOLDER-LIMIT
  local i k
  for i in $(seq 0 15); do
    crlf "$1$((i + 1))"
    for k in 1 2 3; do
      f=$((3 * i + k)); [ "$f" -le "$2" ] || f=$2
      crlf 0 "$f" 1
    done
  done
}
{
  crlf "/home/dj/Music/" 3 0
  cocktails MusicalCocktail 64000
  crlf 1 1 1 0 0
  printf '\0\r\n'
  crlf 0 1 0 0 0 0 1 1 0
} >configuration/first-run.cfg
{
  printf '/srv/music\n300\n-4\n'
  cocktails 'Party mix ' 12 | tr -d '\r' | sed 's/^1$/11/'
  printf '2\n0\n1\n1\n1\n x\n1\n9\n3\n1\n1\n1\n0\n0\n1\n'
} >configuration/lf-out-of-range.cfg
head -c 400 configuration/first-run.cfg >configuration/cut-short.cfg

# ---- qnd.m3u: lines the fuzz target's library knows, and some it does not ----
{
  crlf "/music/Rock/Highway.mp3" "/music/Rock/Live/Encore.wav" "/music/Lounge/Velvet Hour.mp3"
  crlf "/music/a/b.mp3" "/music/Lounge/Highway.mp3" "/music/Rock/Highway.mp3"
} >playlist/saved.m3u
{
  printf '/music/Lounge/silent.wma\n/music/Rock/nan.mp3\r/music/Rock/huge.mp3\r\n'
  printf '/music/Caf\xe9 \xff\xfe.mp3\n/music/ spaced .wav\n/elsewhere/x.mp3\n\n/music/\n'
  printf '/music/Rock/Live/short.wav\r\n/music/Rock/Highway.mp3'
} >playlist/odd-lines.m3u

# ---- the probe: short real files, cut to their first few kilobytes where long ----
ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }
tone=(-f lavfi -i "sine=frequency=440:duration=0.4:sample_rate=44100")
ff "${tone[@]}" -c:a libmp3lame -b:a 32k probe/cbr-xing.mp3
ff "${tone[@]}" -c:a libmp3lame -q:a 6 -ar 22050 probe/vbr-22k.mp3
ff "${tone[@]}" -c:a libmp3lame -b:a 8k -ar 8000 -write_xing 0 -id3v2_version 3 -write_id3v1 1 \
  -metadata title=Seed -metadata artist=Quendo probe/tags-8k.mp3
ff "${tone[@]}" -c:a mp2 -b:a 64k -ar 32000 -f mp2 probe/layer2.mp2
ff -f lavfi -i "sine=frequency=440:duration=0.02:sample_rate=8000" -c:a pcm_s16le probe/pcm16.wav
ff -f lavfi -i "sine=frequency=440:duration=0.02:sample_rate=11025" -c:a pcm_f32le -ac 2 probe/float.wav
ff "${tone[@]}" -c:a wmav2 -b:a 32k probe/full.wma
head -c 6000 probe/full.wma >probe/cut.wma && rm probe/full.wma
# Made long by the target (the top bit of the Xing/Info flags): as they are, and with a frame
# count far beyond what the bytes hold.
lengthened() {  # IN OUT TAG [FRAMES]
  local at
  cp "$1" "$2"
  at=$(grep -abo "$3" "$1" | head -1 | cut -d: -f1)
  printf '\x80' | dd of="$2" bs=1 seek=$((at + 4)) conv=notrunc status=none
  [ -z "${4:-}" ] || printf "$4" | dd of="$2" bs=1 seek=$((at + 8)) conv=notrunc status=none
}
lengthened probe/cbr-xing.mp3 probe/lengthened-cbr.mp3 Info
lengthened probe/vbr-22k.mp3 probe/lengthened-vbr.mp3 Xing
lengthened probe/cbr-xing.mp3 probe/xing-frame-count-too-big.mp3 Info '\x00\xff\xff\xff'
# An APEv2 footer and a Lyrics3v2 tag after the frames.
{ cat probe/cbr-xing.mp3; printf 'APETAGEX\xd0\x07\0\0\x20\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
  printf 'LYRICSBEGININD00002LYR00005hello000032LYRICS200'; } >probe/ape-lyrics.mp3

# ---- the walk: trees in the target's coding (kind byte, length, name) ----
# A folder that takes the next entries (op 16), files in it, a hidden folder, a link to the root.
printf '\x10\x04Rock\x01\x05a.mp3\x01\x05b.txt\x01\x05C.WAV\x10\x05.git\x01\x05x.mp3\x0a\x01\x04back\x00\x00\x03\x04pipe' >walk/tree.bin
# Names with '/', NUL and bad UTF-8; an unreadable folder; a long name; a link loop between two.
printf '\x00\x03a/b\x14\x02\x00\x00\x01\x08\xff\xfe\x80.wma\x04\x05noacc\x01\xff\x78\x03.mp3\x10\x01B\x02\x01L\x01\x01\x02\x01M\x02' >walk/odd-names.bin

# ---- the analysis cache: entries as the analyser writes them, with texts to escape, and damage ----
{
  printf 'quendo-track-facts 3\n'
  printf '5120044 1733700000123456789 1733700000 1 -9.25 -0.5 0.25 212.35 1 0 0 0 -1 -1 0 0\t/music/House/Deep.mp3\t\t\t\n'
  printf '812 1733700000000000000 1733600000 1 -23 -23 0 4 1 128 0.5 0.46875 2 14 3 1\t/music/tab\\there\\n.wav\tArt\\\\ist\tTitle\\r\\n\tAlbum\n'
  printf '44 1 1733500000 1 0 -200 0 0 0 0 0 0 -1 -1 0 0\t/music/silence.wav\t\t\t\n'
} >factscache/written.cache
{
  head -2 factscache/written.cache
  printf '12 34 0 1 nan -1 0 3 1 0 0 0 -1 -1 0 0\t/x.mp3\t\t\t\n12 34 0 1 -20 -1 0 3 1 120 0 0 -1 -1 0 0\t/y.mp3\t\t\n'
  printf '12 34 0 1 -20 -1 0 3 1 0 0 0 -1 -1 0 0\t/bad\\escape.mp3\t\t\t\n12 34 0 1 -20 -1 0 3 1 0 0 0 -1 -1 0 0\t/cut'
} >factscache/damaged.cache
