#!/usr/bin/env bash
# Makes the small media corpus the engine tests analyse, with the ffmpeg
# program, and beside each media file ffprobe's JSON description of it
# (<file>.json). Runs once per build tree: a corpus made by this same script
# is kept.
#
# usage: make_corpus.sh OUTPUT_FOLDER
set -euo pipefail

out="$1"
stamp="$out/.made-by"
signature="$(sha1sum "$0" | cut -d' ' -f1)"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$signature" ]; then
    exit 0
fi
rm -rf "$out"
mkdir -p "$out"
cd "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
video() { echo "-f lavfi -i testsrc2=size=$1:rate=$2:duration=$3"; }
tone() { echo "-f lavfi -i sine=frequency=$1:sample_rate=48000:duration=$2"; }

cat > subs.srt <<'SRT'
1
00:00:00,000 --> 00:00:01,000
Hello

2
00:00:01,000 --> 00:00:02,000
World
SRT

# H.264 + two AC3 tracks with languages + SRT track, in Matroska.
# shellcheck disable=SC2046
ff $(video 320x240 25 2) $(tone 440 2) $(tone 660 2) -i subs.srt \
    -map 0:v -map 1:a -map 2:a -map 3:s \
    -c:v libx264 -preset ultrafast -c:a ac3 -b:a 128k -ac 2 -c:s srt \
    -metadata:s:a:0 language=eng -metadata:s:a:0 title=Main \
    -metadata:s:a:1 language=ger -metadata:s:a:1 title=Kommentar \
    -metadata:s:s:0 language=eng h264_ac3.mkv

# H.264 + AAC in MP4 at 29.97 frames per second, anamorphic (4:3 pixels).
# shellcheck disable=SC2046
ff $(video 240x180 30000/1001 2) $(tone 440 2) -c:v libx264 -preset ultrafast \
    -vf setsar=4/3 -c:a aac -b:a 96k -shortest h264_aac.mp4

# MPEG-2 video + MPEG-1 Layer II audio in MPEG-TS.
# shellcheck disable=SC2046
ff $(video 352x288 25 2) $(tone 440 2) -c:v mpeg2video -b:v 800k -c:a mp2 -b:a 128k \
    -f mpegts mpeg2.ts

# Audio only.
# shellcheck disable=SC2046
ff $(tone 440 2) -c:a libmp3lame -b:a 128k audio.mp3

# A clip whose pictures are shown turned by a quarter turn (the rotation is
# set when the stream is copied).
# shellcheck disable=SC2046
ff $(video 160x120 25 1) -c:v libx264 -preset ultrafast upright.mp4
ff -i upright.mp4 -c copy -metadata:s:v:0 rotate=90 rotated.mp4
rm upright.mp4

# Three parts of a split recording and lists naming the first two.
for part in 1 2 3; do
    # shellcheck disable=SC2046
    ff $(video 160x120 25 1) $(tone 440 1) -c:v libx264 -preset ultrafast -c:a aac \
        -shortest "part$part.mp4"
done
printf "ffconcat version 1.0\nfile 'part1.mp4'\nfile part2.mp4\n" > parts.ffconcat
printf "#EXTM3U\n#EXTINF:1,part one\npart1.mp4\n%s\n" "$out/part2.mp4" > parts.m3u
# A long list: analysing it takes a while.
{
    echo "ffconcat version 1.0"
    for _ in $(seq 1 3000); do echo "file part1.mp4"; done
} > long.ffconcat

# Transcode sources. A black picture with a white top-left quarter: where
# that quarter ends up shows crops, flips and turns (and the black lower
# half shows burnt-in subtitles).
# shellcheck disable=SC2046
ff -f lavfi -i color=black:size=320x240:rate=25:duration=2 $(tone 440 2) \
    -vf drawbox=x=0:y=0:w=160:h=120:color=white:t=fill \
    -c:v libx264 -preset ultrafast -c:a aac -shortest quadrant.mp4
# Long enough to be cancelled in the middle.
# shellcheck disable=SC2046
ff $(video 640x360 25 20) $(tone 440 20) -c:v libx264 -preset ultrafast -c:a aac -ac 2 -shortest \
    long.mp4
# Subtitles in Windows-1252: "Grüße" and "Straße" are not UTF-8 there.
printf '1\r\n00:00:00,000 --> 00:00:01,500\r\nGr\xfc\xdfe\r\n\r\n2\r\n00:00:01,500 --> 00:00:02,000\r\nStra\xdfe\r\n' \
    > subs1252.srt

# Files that are no media: empty, cut short, random bytes.
: > empty.mp4
head -c "$(($(stat -c %s h264_aac.mp4) / 2))" h264_aac.mp4 > truncated.mp4
ff -f lavfi -i anoisesrc=duration=0.5:seed=7:sample_rate=48000 -f s16le random.bin

for f in h264_ac3.mkv h264_aac.mp4 mpeg2.ts audio.mp3 rotated.mp4 subs.srt part1.mp4 part2.mp4; do
    ffprobe -v quiet -print_format json -show_format -show_streams "$f" > "$f.json"
done

# --- Sound: surround sources and joins whose sound format changes ---------
# 5.1 AAC with the tone in the centre only, beside the same as 5.1 AC3, in
# Matroska: a downmix that drops the centre is silent.
# shellcheck disable=SC2046
ff $(video 160x120 25 1.5) \
    -f lavfi -i "aevalsrc=0|0|0.5*sin(440*2*PI*t)|0|0|0:s=48000:d=1.5:c=5.1" \
    -map 0:v -map 1:a -map 1:a -c:v libx264 -preset ultrafast \
    -c:a:0 aac -b:a:0 192k -c:a:1 ac3 -b:a:1 320k surround51.mkv
# 7.1 FLAC in Matroska with the tone in the side channels only: a 5.1
# downmix that drops them is silent.
# shellcheck disable=SC2046
ff $(video 160x120 25 1.5) \
    -f lavfi -i "aevalsrc=0|0|0|0|0|0|0.5*sin(440*2*PI*t)|0.5*sin(440*2*PI*t):s=48000:d=1.5:c=7.1" \
    -c:v libx264 -preset ultrafast -c:a flac surround71.mkv
# A camera's PCM clip and a phone's AAC clip of the same picture, to join.
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 440 1) -c:v libx264 -preset ultrafast -c:a pcm_s16le -ac 2 \
    camera_pcm.mov
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 660 1) -c:v libx264 -preset ultrafast -c:a aac -ac 2 -shortest \
    phone_aac.mp4
# A broadcast whose AC3 switches from 2.0 to 5.1 with the programme: two
# segments, the second's clock going on from the first's, joined by cat.
# The first lasts 0.96 s, 24 pictures and 30 AC3 frames; the muxer starts
# its pictures 40 ms later than the second's offset gives, so that the
# second's clock starts at 1 s where the first's ends.
# shellcheck disable=SC2046
ff $(video 160x120 25 0.96) $(tone 440 0.96) -c:v mpeg2video -c:a ac3 -ac 2 -f mpegts dvb_20.ts
# shellcheck disable=SC2046
ff $(video 160x120 25 1) -f lavfi -i "aevalsrc=0.3*sin(660*2*PI*t):s=48000:d=1:c=5.1" \
    -c:v mpeg2video -c:a ac3 -output_ts_offset 1 -f mpegts dvb_51.ts
cat dvb_20.ts dvb_51.ts > dvb_switch.ts
rm dvb_20.ts dvb_51.ts

echo "$signature" > "$stamp"
