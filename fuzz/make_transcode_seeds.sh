#!/usr/bin/env bash
# Writes the seeds of the whole-transcode fuzz target: tiny clips of every
# container and codec family the engine reads, each behind the byte that
# picks its extension (the order of the list in engine_transcode_fuzz.cpp)
# and the byte that picks the output settings; and part.mp4, the clip a
# playlist seed names.
#
# usage: make_transcode_seeds.sh OUTPUT_FOLDER (it gets seeds/ and part.mp4)
set -euo pipefail

rm -rf "$1"
mkdir -p "$1/media" "$1/seeds"
out="$(cd "$1" && pwd)"
cd "$out/media"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# Six pictures of 64x48 at 12 a second, and half a second of sound.
pic=(-f lavfi -i testsrc2=size=64x48:rate=12:duration=0.5)
snd=(-f lavfi -i sine=frequency=440:sample_rate=16000:duration=0.5)
snd48=(-f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.5)
x264=(-c:v libx264 -preset ultrafast -g 6)
x265=(-c:v libx265 -preset ultrafast -x265-params log-level=none:keyint=6)

printf '1\n00:00:00,000 --> 00:00:00,400\nHi\n' > sub.srt

ff "${pic[@]}" "${snd[@]}" "${x264[@]}" -c:a aac -b:a 24k -shortest h264_aac.mp4
cp h264_aac.mp4 part.mp4
ff "${pic[@]}" "${snd48[@]}" -i sub.srt -map 0 -map 1 -map 1 -map 2 "${x264[@]}" -c:a ac3 \
    -b:a 64k -ac 1 -c:s srt h264_ac3_srt.mkv
ff "${pic[@]}" "${snd[@]}" -i sub.srt -map 0 -map 1 -map 2 "${x264[@]}" -c:a aac -b:a 24k \
    -c:s ass h264_aac_ass.mkv
ff "${pic[@]}" "${snd[@]}" -i sub.srt -map 0 -map 1 -map 2 "${x264[@]}" -c:a aac -b:a 24k \
    -c:s mov_text h264_aac_text.mp4
ff "${pic[@]}" "${snd[@]}" -c:v mpeg4 -q:v 8 -c:a libmp3lame -b:a 32k mpeg4_mp3.avi
ff "${pic[@]}" "${snd48[@]}" -c:v mpeg2video -b:v 200k -c:a mp2 -b:a 64k -f mpegts mpeg2_mp2.ts
ff "${pic[@]}" "${snd48[@]}" "${x264[@]}" -c:a ac3 -b:a 64k -ac 1 -f mpegts h264_ac3.ts
ff "${pic[@]}" "${snd[@]}" "${x264[@]}" -c:a pcm_s16le h264_pcm.mov
ff "${pic[@]}" "${snd[@]}" "${x265[@]}" -tag:v hvc1 -c:a aac -b:a 24k hevc_aac.mov
ff "${pic[@]}" "${snd[@]}" -c:v flv -c:a libmp3lame -ar 22050 -b:a 32k flv1_mp3.flv
ff "${pic[@]}" "${snd[@]}" "${x264[@]}" -c:a aac -b:a 24k h264_aac.flv
ff "${pic[@]}" "${snd48[@]}" -c:v libvpx-vp9 -deadline realtime -b:v 50k -c:a libopus -b:a 16k \
    vp9_opus.webm
ff "${pic[@]}" "${snd48[@]}" -c:v mpeg2video -b:v 200k -c:a mp2 -b:a 64k -f vob mpeg2_mp2.mpg
ff "${snd[@]}" -c:a libmp3lame -b:a 32k audio.mp3
ff "${snd[@]}" -c:a pcm_s16le audio.wav
ff "${snd48[@]}" -c:a ac3 -b:a 64k -ac 1 audio.ac3
ff "${snd[@]}" -c:a aac -b:a 24k audio.aac
ff "${pic[@]}" "${x264[@]}" -f h264 raw.h264
ff "${pic[@]}" "${x265[@]}" -f hevc raw.hevc
ff "${pic[@]}" -c:v mpeg2video -b:v 200k -f mpeg2video raw.m2v
cp sub.srt subtitles.srt
printf '#EXTM3U\n#EXTINF:1,one\npart.mp4\npart.mp4\n' > list.m3u
printf "ffconcat version 1.0\nfile part.mp4\ninpoint 0.1\nfile 'part.mp4'\nduration 0.3\n" \
    > list.ffconcat
rm sub.srt

# The extension list of the target, in its order.
extensions=(mp4 mkv avi ts mov flv webm mpg mp3 wav ac3 aac h264 hevc m2v srt m3u ffconcat)
n=0
for f in *; do
    [ "$f" = part.mp4 ] && continue
    ext="${f##*.}"
    for i in "${!extensions[@]}"; do
        [ "${extensions[$i]}" = "$ext" ] || continue
        # Every file once per profile (the low two bits); files with
        # subtitles also with the first burnt in, the others with their
        # second sound track or copied streams.
        for settings in 0 1 2 3; do
            case "$f" in
            *srt* | *ass* | *text*) settings=$((settings | (settings & 1 ? 0x04 : 0x08))) ;;
            *) settings=$((settings | (n % 3 == 0 ? 0x40 : n % 3 == 1 ? 0x30 : 0x80))) ;;
            esac
            { printf "\\x$(printf %02x "$i")\\x$(printf %02x "$settings")"; cat "$f"; } \
                >"$out/seeds/${f%.*}_${ext}_$settings"
            n=$((n + 1))
        done
    done
done
mv part.mp4 "$out/part.mp4"
cd "$out"
rm -rf media
