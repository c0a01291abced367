#!/usr/bin/env bash
# Writes the seed corpora again (they are kept in the repository; run by hand after a format
# change). Needs the ffmpeg program of the set-up's package list.
#   bash fuzz/corpus/make-seeds.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
mkdir -p configuration playlist probe tags walk factscache
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

# ---- tags: small tagged files of each kind, and hand-made odd tags ----
le32() { local v=$1; printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255)))"; }
be32() { local v=$1; printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v >> 24 & 255)) $((v >> 16 & 255)) $((v >> 8 & 255)) $((v & 255)))"; }
short=(-f lavfi -i "sine=frequency=440:duration=0.1:sample_rate=8000" -ac 1)
meta=(-metadata "artist=  Ünder Tow " -metadata "title=潮の線" -metadata album=Harbour -metadata track=3/12 -metadata disc=1/2)
ff "${short[@]}" "${meta[@]}" -c:a libmp3lame -b:a 8k -id3v2_version 3 -write_id3v1 1 tags/id3v23.mp3
ff "${short[@]}" "${meta[@]}" -c:a libmp3lame -b:a 8k -id3v2_version 4 tags/id3v24.mp3
ff "${short[@]}" "${meta[@]}" -c:a wmav2 -b:a 32k tags/full.wma
head -c 2500 tags/full.wma >tags/tagged-cut.wma && rm tags/full.wma
ff -f lavfi -i "sine=frequency=440:duration=0.02:sample_rate=8000" -ac 1 "${meta[@]}" -c:a pcm_u8 tags/info.wav
id3=$(mktemp)
head -c $((10 + $(od -An -tu1 -j6 -N4 tags/id3v24.mp3 | awk '{print $1*2097152 + $2*16384 + $3*128 + $4}'))) tags/id3v24.mp3 >"$id3"
# The audio with an ID3v1.1 tag alone: UTF-8 and Latin-1 text, track 3.
field() { printf '%s' "$1"; head -c $((30 - $(printf '%s' "$1" | wc -c))) /dev/zero; }
{ tail -c +$(($(stat -c %s "$id3") + 1)) tags/id3v24.mp3; printf TAG; field $'Tide\tLine'; field $'  \xc3\x9cnder Tow '
  field $'Caf\xe9'; printf 2024; head -c 29 /dev/zero; printf '\x03\xff'; } >tags/id3v1.mp3
# The ID3v2 tag of the MP3 as an "id3 " chunk after the WAV's own (its length is even).
n=$(stat -c %s "$id3"); w=$(stat -c %s tags/info.wav)
{ printf RIFF; le32 $((w - 8 + 8 + n + n % 2)); tail -c +9 tags/info.wav; printf 'id3 '; le32 "$n"; cat "$id3"
  [ $((n % 2)) -eq 0 ] || printf '\0'; } >tags/id3-chunk.wav
rm "$id3"
# ID3v2.3 frames: UTF-16 with a lone surrogate and an odd length, one frame longer than the tag,
# then audio and an APEv2 footer with artist and track.
frames=$(mktemp)
{ printf 'TPE1'; be32 7; printf '\0\0\x01\xff\xfe\x00\xd8'; printf 'TRCK'; be32 6; printf '\0\0\x00 12/x'
  printf 'TIT2'; be32 100000; printf '\0\0\x00Long'; } >"$frames"
n=$(stat -c %s "$frames")
{ printf 'ID3\x03\0\0'; printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((n >> 21 & 127)) $((n >> 14 & 127)) $((n >> 7 & 127)) $((n & 127)))"
  cat "$frames"; tail -c +$((1 + $(stat -c %s tags/id3v1.mp3) - 128 - 200)) tags/id3v1.mp3 | head -c 200
  items=$(mktemp); { le32 6; le32 0; printf 'Artist\0Tahiti'; le32 4; le32 0; printf 'Track\0007/9'; } >"$items"
  cat "$items"; printf APETAGEX; le32 2000; le32 $(($(stat -c %s "$items") + 32)); le32 2; le32 0; printf '\0\0\0\0\0\0\0\0'
  rm "$items"; } >tags/odd-frames.mp3
rm "$frames"

# ---- the walk: trees in the target's coding (kind byte, length, name) ----
# A folder that takes the next entries (op 16), files in it, a hidden folder, a link to the root.
printf '\x10\x04Rock\x01\x05a.mp3\x01\x05b.txt\x01\x05C.WAV\x10\x05.git\x01\x05x.mp3\x0a\x01\x04back\x00\x00\x03\x04pipe' >walk/tree.bin
# Names with '/', NUL and bad UTF-8; an unreadable folder; a long name; a link loop between two.
printf '\x00\x03a/b\x14\x02\x00\x00\x01\x08\xff\xfe\x80.wma\x04\x05noacc\x01\xff\x78\x03.mp3\x10\x01B\x02\x01L\x01\x01\x02\x01M\x02' >walk/odd-names.bin

# ---- the analysis cache: entries as the analyser writes them, with texts to escape, and damage ----
# The form after TAGS_FAILED: bars, phrases, bass in and out, fade-out, one level character per
# bar and band; then the outline: its point in microseconds and one character per point and band.
# The layouts before them are read still.
{
  printf 'quendo-track-facts 7\n'
  printf '5120044 1733700000123456789 1733700000 5 -9.25 -0.5 0.25 212.35 1 212.4 -12.5 -15.25 -30 -40 -28 -33.5 0 0 0 -1 -1 0 0 0 0 12422 ???~~~\\\\A@?~\t/music/House/Deep.mp3\t\t\t\n'
  printf '812 1733700000000000000 1733600000 5 -23 -23 0 4 1 4 -20 -20 -20 -18 -21 -24 128 0.5 0.46875 2 14 3 1 0 8 3 0 4 6 2 6 6 ;AGM;AGM/4:?/4:?/4:?/4:?7AFM?HNU 0\t/music/tab\\there\\n.wav\tArt\\\\ist\tTitle\\r\\n\tAlbum\n'
  printf '44 1 1733500000 5 0 -200 0 0 0 0.5 -200 -200 -200 -200 -200 -200 0 0 0 -1 -1 0 0 1 0 0\t/music/silence.wav\t\t\t\n'
} >factscache/written.cache
{
  printf 'quendo-track-facts 6\n'
  printf '5120044 1733700000123456789 1733700000 5 -9.25 -0.5 0.25 212.35 1 212.4 -12.5 -15.25 -30 -40 -28 -33.5 0 0 0 -1 -1 0 0 0 0\t/music/House/Deep.mp3\t\t\t\n'
  printf '812 1733700000000000000 1733600000 5 -23 -23 0 4 1 4 -20 -20 -20 -18 -21 -24 128 0.5 0.46875 2 14 3 1 0 8 3 0 4 6 2 6 6 ;AGM;AGM/4:?/4:?/4:?/4:?7AFM?HNU\t/music/tab\\there\\n.wav\tArt\\\\ist\tTitle\\r\\n\tAlbum\n'
  printf '44 1 1733500000 5 0 -200 0 0 0 0.5 -200 -200 -200 -200 -200 -200 0 0 0 -1 -1 0 0 1 0\t/music/silence.wav\t\t\t\n'
} >factscache/before-outline.cache
{
  printf 'quendo-track-facts 5\n'
  printf '5120044 1733700000123456789 1733700000 1 -9.25 -0.5 0.25 212.35 1 212.4 -12.5 -15.25 -30 -40 -28 -33.5 0 0 0 -1 -1 0 0 0\t/music/House/Deep.mp3\t\t\t\n'
  printf '812 1733700000000000000 1733600000 1 -23 -23 0 4 1 4 -20 -20 -20 -18 -21 -24 128 0.5 0.46875 2 14 3 1 0\t/music/tab\\there\\n.wav\tArt\\\\ist\tTitle\\r\\n\tAlbum\n'
} >factscache/before-form.cache
{
  head -2 factscache/written.cache
  printf '12 34 0 1 nan -1 0 3 1 3 -30 -30 -30 -30 -30 -30 0 0 0 -1 -1 0 0 0 0\t/x.mp3\t\t\t\n12 34 0 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 120 0 0 -1 -1 0 0 0 0\t/y.mp3\t\t\n'
  printf '12 34 0 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 128 0.5 1e-300 2 -1 0 0 0 0\t/tiny-period.mp3\t\t\t\n'
  printf '12 34 0 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 0 0 0 -1 -1 0 0 0 0\t/bad\\escape.mp3\t\t\t\n12 34 0 1 -20 -1 0 3 1 3 -30 -30 -30 -30 -30 -30 0 0 0 -1 -1 0 0 0 0\t/cut'
} >factscache/damaged.cache
