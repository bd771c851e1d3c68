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

# --- Picture fidelity: interlace, colour, aspect switch ---
# 25 interlaced frames a second (top field first, each field its own moment)
# in MPEG-TS with AC-3, as a DVB recording.
# shellcheck disable=SC2046
ff $(video 720x576 50 2) $(tone 440 2) -vf tinterlace=mode=interleave_top,setfield=tff \
    -c:v libx264 -preset ultrafast -flags +ildct+ilme -x264-params tff=1 -b:v 800k \
    -c:a ac3 -b:a 128k -f mpegts interlaced.ts
# A 10-bit HLG (BT.2020) HEVC phone clip.
# shellcheck disable=SC2046
ff $(video 320x180 25 1) $(tone 440 1) -vf format=yuv420p10le -c:v libx265 -preset ultrafast \
    -x265-params log-level=none:colorprim=bt2020:transfer=arib-std-b67:colormatrix=bt2020nc \
    -color_primaries bt2020 -color_trc arib-std-b67 -colorspace bt2020nc -tag:v hvc1 \
    -c:a aac -b:a 96k -shortest hlg.mov
# SD (525 lines, BT.601) tagged as such.
# shellcheck disable=SC2046
ff $(video 320x240 30000/1001 2) $(tone 440 2) -c:v libx264 -preset ultrafast \
    -color_primaries smpte170m -color_trc smpte170m -colorspace smpte170m -color_range tv \
    -c:a aac -b:a 96k -shortest sd.mp4
# A white picture whose display aspect switches from 4:3 to 16:9 after a
# second: two MPEG-2 recordings, the second's clock following the first's.
for aspect in 4:3 16:9; do
    # shellcheck disable=SC2046
    ff -f lavfi -i color=white:size=352x288:rate=25:duration=1 $(tone 440 1) \
        -c:v mpeg2video -b:v 400k -aspect "$aspect" -c:a mp2 -b:a 128k \
        -output_ts_offset "$([ "$aspect" = 4:3 ] && echo 0 || echo 1)" -f mpegts "aspect${aspect/:/x}.ts"
done
cat aspect4x3.ts aspect16x9.ts > aspect_switch.ts
rm aspect4x3.ts aspect16x9.ts
# --- end of picture fidelity ---
# --- Picture subtitles ---
# A PGS (Blu-ray) subtitle file showing a white box from SHOW to CLEAR ms, on
# a canvas of its own size: pgs_box OUT CANVAS_W CANVAS_H X Y W H SHOW CLEAR.
# Written byte by byte: FFmpeg encodes picture subtitles only from pictures.
pgs_box() {
    local out=$1 cw=$2 ch=$3 x=$4 y=$5 w=$6 h=$7 on=$(($8 * 90)) off=$(($9 * 90))
    local line rle="" i
    h16() { printf '%04x' "$1"; }
    seg() { printf '5047%08x00000000%s%04x%s' "$1" "$2" $((${#3} / 2)) "$3"; }
    # Each row: one run of colour 1, then the end of the row.
    line=$(printf '00%02x%02x010000' $((0xC0 | (w >> 8))) $((w & 255)))
    for ((i = 0; i < h; i++)); do rle+=$line; done
    {
        seg "$on" 16 "$(h16 "$cw")$(h16 "$ch")1000008000000100000000$(h16 "$x")$(h16 "$y")"
        seg "$on" 17 "0100$(h16 "$x")$(h16 "$y")$(h16 "$w")$(h16 "$h")"
        seg "$on" 14 "000001eb8080ff"
        seg "$on" 15 "000000c0$(printf '%06x' $((4 + ${#rle} / 2)))$(h16 "$w")$(h16 "$h")$rle"
        seg "$on" 80 ""
        seg "$off" 16 "$(h16 "$cw")$(h16 "$ch")10000100000000"
        seg "$off" 17 "0100$(h16 "$x")$(h16 "$y")$(h16 "$w")$(h16 "$h")"
        seg "$off" 80 ""
    } | sed 's/../\\x&/g' | { bytes=$(cat); printf '%b' "$bytes"; } > "$out"
}
# A box in the lower middle of a 640x480 canvas (twice the pictures' size),
# shown from 0.5 s to 1.5 s; the same as DVB subtitles in MPEG-TS and as
# VobSub in Matroska, beside a black picture.
pgs_box box.sup 640 480 160 360 320 80 500 1500
for kind in dvbsub:ts dvdsub:mkv; do
    # shellcheck disable=SC2046
    ff -f lavfi -i color=black:size=320x240:rate=25:duration=2 -fix_sub_duration -i box.sup \
        -map 0:v -map 1:s -c:v libx264 -preset ultrafast -c:s "${kind%%:*}" -copyts \
        "box_${kind%%:*}.${kind##*:}"
done
# A line every two seconds beside long.mp4: written in time with its picture.
for i in $(seq 0 9); do
    printf '%d\n00:00:%02d,000 --> 00:00:%02d,900\nLine %d\n\n' $((i + 1)) $((2 * i + 1)) \
        $((2 * i + 1)) "$i"
done > long.srt
# --- end of picture subtitles ---
# ---- copy decisions ----
# A turned clip (rotate=90) whose white top-left quarter shows where the
# picture's top-left ends up when it is displayed.
ff -f lavfi -i color=black:size=160x120:rate=25:duration=1 \
    -vf drawbox=x=0:y=0:w=80:h=60:color=white:t=fill -c:v libx264 -preset ultrafast \
    upright_quadrant.mp4
ff -i upright_quadrant.mp4 -c copy -metadata:s:v:0 rotate=90 rotated_quadrant.mp4
rm upright_quadrant.mp4
# Two clips of one picture size and rate whose H.264 headers differ
# (baseline and high profile), to be joined.
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 440 1) -c:v libx264 -preset ultrafast -profile:v baseline \
    -c:a aac -shortest baseline.mp4
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 440 1) -c:v libx264 -preset medium -profile:v high \
    -c:a aac -shortest high.mp4
# Video of about 800 kbit/s: too big to be copied under a small size limit.
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 440 1) -c:v libx264 -preset ultrafast -qp 4 -c:a aac \
    -shortest heavy.mp4
# The same in Matroska, its video's bitrate tag saying 20 kbit/s: a copy
# predicted to fit a small size limit comes out above it.
ff -i heavy.mp4 -c copy -metadata:s:v:0 BPS=20000 understated.mkv
# A second of noise: FFmpeg's MPEG-4 encoder cannot make it small.
ff -f lavfi -i testsrc2=size=320x240:rate=25:duration=1 -vf noise=alls=60:allf=t \
    -c:v libx264 -preset ultrafast -crf 20 noisy.mp4
# A raw H.264 stream: no container, no duration.
# shellcheck disable=SC2046
ff $(video 320x240 25 2) -c:v libx264 -preset ultrafast -f h264 raw.h264
# --- Timelines: timestamp jumps, playlist trims, a damaged packet ---
# Two recordings of one second joined with cat: the clock of the second goes
# back (ts_back.ts) or far ahead (ts_ahead.ts).
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 440 1) -c:v libx264 -preset ultrafast -c:a mp2 -b:a 64k \
    -output_ts_offset 20 -f mpegts ts_late.part
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 660 1) -c:v libx264 -preset ultrafast -c:a mp2 -b:a 64k \
    -f mpegts ts_early.part
cat ts_late.part ts_early.part > ts_back.ts
cat ts_early.part ts_late.part > ts_ahead.ts
rm ts_late.part ts_early.part
# The same with MPEG-2 in MPEG-PS (a DVD's VOB), the clock going back.
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 440 1) -c:v mpeg2video -c:a mp2 -b:a 64k -output_ts_offset 20 \
    -f vob ps_late.part
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 660 1) -c:v mpeg2video -c:a mp2 -b:a 64k -f vob ps_early.part
cat ps_late.part ps_early.part > ps_back.vob
rm ps_late.part ps_early.part
# Three parts of two seconds, trimmed to 0.8 s, 0.4 s and 0.4 s.
for part in 1 2 3; do
    # shellcheck disable=SC2046
    ff $(video 160x120 25 2) $(tone 440 2) -c:v libx264 -preset ultrafast -c:a aac \
        -shortest "trim$part.mp4"
done
printf "ffconcat version 1.0\nfile trim1.mp4\ninpoint 0.3\noutpoint 1.1\nfile trim2.mp4\nduration 0.4\nfile trim3.mp4\ninpoint 1.6\n" \
    > trims.ffconcat
# One file named twice: whole, and two trims of a Matroska file whose
# pictures start 21 ms after its sound (its AAC's priming).
printf "ffconcat version 1.0\nfile trim1.mp4\nfile trim1.mp4\n" > twice.ffconcat
# shellcheck disable=SC2046
ff $(video 160x120 25 2) $(tone 440 2) -c:v libx264 -preset ultrafast -c:a aac -shortest \
    late_pictures.mkv
printf "ffconcat version 1.0\nfile late_pictures.mkv\ninpoint 0\noutpoint 1\nfile late_pictures.mkv\ninpoint 1.5\noutpoint 2\n" \
    > twice_trimmed.ffconcat
# PNG pictures, the header chunk of the last but one wiped: that one does
# not decode, and a decoder with threads tells so only while it is flushed.
ff -f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -c:v png -f avi damaged.avi
wiped="$(LC_ALL=C grep -obUa $'\x89PNG' damaged.avi | sed -n 24p | cut -d: -f1)"
printf '\0\0\0\0' | dd of=damaged.avi bs=1 seek="$((wiped + 12))" conv=notrunc status=none
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
# A second of quiet pictures whose sound ends 80 ms early, the same with
# all its sound, and a second of a tone: joined, the tone starts with its
# picture.
for quiet in 0.92:quiet_short 1:quiet; do
    # shellcheck disable=SC2046
    ff $(video 160x120 25 1) -f lavfi -i anullsrc=r=48000:cl=stereo -af "atrim=0:${quiet%%:*}" \
        -c:v libx264 -preset ultrafast -c:a aac -t 1 "${quiet##*:}.mp4"
done
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 660 1) -c:v libx264 -preset ultrafast -c:a aac -ac 2 tone.mp4
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
# Two recordings whose clocks overlap by 0.2 s where they were cut, as a
# broadcast's sound runs on past the cut: joined by cat.
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 440 1) -c:v mpeg2video -c:a ac3 -ac 2 -f mpegts overlap1.ts
# shellcheck disable=SC2046
ff $(video 160x120 25 1) $(tone 660 1) -c:v mpeg2video -c:a ac3 -ac 2 -output_ts_offset 0.8 \
    -f mpegts overlap2.ts
cat overlap1.ts overlap2.ts > dvb_overlap.ts
rm overlap1.ts overlap2.ts

echo "$signature" > "$stamp"
