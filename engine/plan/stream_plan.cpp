// The second half of the plan: each output stream, decided from the
// derivation's figures and the first file's streams.
#include <algorithm>
#include <optional>

#include "code_pages.h"
#include "codec_map.h"
#include "copy_rules.h"
#include "engine_log.h"
#include "media_probe.h"
#include "norv/enum_names.h"
#include "opened_files.h"
#include "output/profile_limits.h"
#include "platform/path_info.h"
#include "size_budget.h"
#include "subtitle_track.h"
#include "timeline.h"
#include "tracks.h"
#include "transcode_plan.h"

namespace norv_engine {

namespace {

// Margins that leave less than this of the picture are ignored.
constexpr int kMinCroppedSide = 16;

Status NoVideoDecoder(AVCodecID codec) {
    return {nvt::ENG_DECODER,
            std::string("no decoder for the video codec ") + avcodec_get_name(codec)};
}

int QuarterTurns(int degrees) {
    const int turns = static_cast<int>(std::lround(degrees / 90.0)) % 4;
    return turns < 0 ? turns + 4 : turns;
}

std::string Tag(const AVStream* stream, const char* key) {
    const AVDictionaryEntry* e = av_dict_get(stream->metadata, key, nullptr, 0);
    return e != nullptr && e->value != nullptr ? e->value : std::string();
}

// The pixel aspect that shows a w x h picture with the display aspect of the
// cropped source (turned by turns), or square pixels when the aspect is not
// kept.
AVRational OutputAspect(int cropWidth, int cropHeight, AVRational sar, int turns, int w, int h,
                        bool keep) {
    if (!keep || w <= 0 || h <= 0 || cropWidth <= 0 || cropHeight <= 0) {
        return AVRational{1, 1};
    }
    // Display aspect of the source part: cropWidth * sar / cropHeight.
    int64_t num = static_cast<int64_t>(cropWidth) * sar.num;
    int64_t den = static_cast<int64_t>(cropHeight) * sar.den;
    if (turns % 2 == 1) {
        std::swap(num, den);
    }
    AVRational out{1, 1};
    av_reduce(&out.num, &out.den, num * h, den * w, 65535);
    return out.num > 0 && out.den > 0 ? out : AVRational{1, 1};
}

// The output frame rate: the source's, divided down to the profile's.
AVRational OutputFrameRate(int profile, AVRational source) {
    if (source.num <= 0 || source.den <= 0) {
        source = AVRational{25, 1};
    }
    const nvt::ProfileLimits* row = nvt::FindProfileLimits(profile, av_q2d(source));
    const double ceiling = row != nullptr ? row->frameRate : 30.0;
    int divisor = 1;
    while (av_q2d(source) / divisor > ceiling * 1.001 && divisor < 16) {
        ++divisor;
    }
    AVRational rate{1, 1};
    av_reduce(&rate.num, &rate.den, source.num, static_cast<int64_t>(source.den) * divisor,
              65535); // MPEG-4 Part 2 takes no finer time base
    return rate;
}

const char* AudioEncoderFor(const ProfileRecipe& recipe, nvt::AudioCodec wanted) {
    for (const auto& entry : recipe.audio) {
        if (entry.first == wanted && avcodec_find_encoder_by_name(entry.second) != nullptr) {
            return entry.second;
        }
    }
    for (const auto& entry : recipe.audio) {
        if (avcodec_find_encoder_by_name(entry.second) != nullptr) {
            return entry.second;
        }
    }
    return nullptr;
}

// Why the source's video cannot be copied as it is; null when it can.
const char* VideoCopyRefused(const TBS::TranscodeRequest& request, const TranscodePlan& plan,
                             const AVStream* video, const JoinedCoding& joined) {
    const VideoChainSetup& c = plan.video.chain;
    const AVCodec* encoder = avcodec_find_encoder_by_name(plan.recipe->videoEncoder);
    if (encoder == nullptr || encoder->id != video->codecpar->codec_id) {
        return "the profile takes another codec";
    }
    if (c.cropLeft + c.cropRight + c.cropTop + c.cropBottom != 0 || c.flipHorizontal ||
        c.flipVertical || QuarterTurns(request.angle) != 0 || request.subtitleBurnFirstTrack) {
        return "the picture is changed";
    }
    if (RotationOf(video) != 0 && !CarriesDisplayMatrix(plan.container)) {
        return "the container cannot say that the picture is turned";
    }
    if (!joined.VideoAlike()) {
        return "the joined files are coded differently";
    }
    return nullptr;
}

Status PlanVideo(const TBS::TranscodeRequest& request, const Derived& derived,
                 const AVFormatContext* format, const AVStream* video, const JoinedCoding& joined,
                 TranscodePlan& plan) {
    const nvt::CustomPresetData& preset = request.CustomPresetData;
    const SettingsResult& r = derived.result;
    VideoPlan& v = plan.video;
    const AVCodecParameters* p = video->codecpar;
    v.sourceCodec = p->codec_id;
    v.frameRate =
        OutputFrameRate(plan.profile, av_guess_frame_rate(const_cast<AVFormatContext*>(format),
                                                          const_cast<AVStream*>(video), nullptr));
    AVRational sar = av_guess_sample_aspect_ratio(const_cast<AVFormatContext*>(format),
                                                  const_cast<AVStream*>(video), nullptr);
    if (sar.num <= 0 || sar.den <= 0) {
        sar = AVRational{1, 1};
    }
    VideoChainSetup& c = v.chain;
    c.frameRate = v.frameRate;
    const nvt::CropRect& rect = preset.rect;
    const int64_t horizontal = static_cast<int64_t>(rect.left) + rect.right;
    const int64_t vertical = static_cast<int64_t>(rect.top) + rect.bottom;
    if (horizontal + vertical > 0) {
        if (horizontal <= p->width - kMinCroppedSide && vertical <= p->height - kMinCroppedSide) {
            // Even offsets and sizes, as the 4:2:0 picture needs.
            c.cropLeft = static_cast<int>(rect.left) & ~1;
            c.cropTop = static_cast<int>(rect.top) & ~1;
            c.cropRight = static_cast<int>(horizontal) - c.cropLeft;
            c.cropBottom = static_cast<int>(vertical) - c.cropTop;
            c.cropRight += (p->width - c.cropLeft - c.cropRight) & 1;
            c.cropBottom += (p->height - c.cropTop - c.cropBottom) & 1;
        } else {
            LogLine(Severity::Warning, "crop margins %u/%u/%u/%u leave no picture; ignored",
                    rect.left, rect.right, rect.top, rect.bottom);
        }
    }
    c.flipHorizontal = (static_cast<unsigned>(request.flip) & 1u) != 0;
    c.flipVertical = (static_cast<unsigned>(request.flip) & 2u) != 0;
    // The source's own turn (shown upright everywhere) and the requested one.
    c.quarterTurns = (QuarterTurns(RotationOf(video)) + QuarterTurns(request.angle)) % 4;
    const bool turned = c.quarterTurns % 2 == 1;
    c.width = static_cast<int>(turned ? r.height : r.width);
    c.height = static_cast<int>(turned ? r.width : r.height);
    const int cropWidth = p->width - c.cropLeft - c.cropRight;
    const int cropHeight = p->height - c.cropTop - c.cropBottom;
    c.sampleAspect = OutputAspect(cropWidth, cropHeight, sar, c.quarterTurns, c.width, c.height,
                                  preset.enableAspectRatio);
    c.keepAspect = preset.enableAspectRatio;
    c.interlacedSource = p->field_order == AV_FIELD_TT || p->field_order == AV_FIELD_BB ||
                         p->field_order == AV_FIELD_TB || p->field_order == AV_FIELD_BT;
    const PictureColour sourceColour =
        SourceColour(p->color_primaries, p->color_trc, p->color_space, p->color_range, p->format,
                     p->width, p->height, v.frameRate);
    c.colour = OutputColour(sourceColour, c.width, c.height, v.frameRate);
    v.bitrate = static_cast<int64_t>(r.videoKbps) * 1024;
    v.minBitrate = static_cast<int64_t>(r.videoMinKbps) * 1024;
    v.maxBitrate = static_cast<int64_t>(r.videoMaxKbps) * 1024;
    v.hevcQuality = preset.hevcQualityLevel;
    v.twoPassWhenEncoded = preset.enableVideo2passEncoding || derived.request.fitToFileSize;
    v.twoPass = v.twoPassWhenEncoded;
    v.copiedBytes = joined.VideoBytes();
    if (preset.videoPassthrough || !request.needTranscode) {
        const char* refused = VideoCopyRefused(request, plan, video, joined);
        v.copy = refused == nullptr;
        if (v.copy) {
            v.twoPass = false;
        } else if (preset.videoPassthrough) {
            LogLine(Severity::Info, "video encoded, not passed through: %s", refused);
        }
    }
    if (!v.copy && avcodec_find_decoder(v.sourceCodec) == nullptr) {
        return NoVideoDecoder(v.sourceCodec);
    }

    if (derived.request.trickPlay.Any() && plan.profile == nvt::NP_NorvPlusHD &&
        plan.container == Container::Matroska && r.trickWidth > 0 && r.trickHeight > 0) {
        v.trick = true;
        v.trickChain = c;
        v.trickChain.frameRate = AVRational{5, 1};
        v.trickChain.width = static_cast<int>(turned ? r.trickHeight : r.trickWidth);
        v.trickChain.height = static_cast<int>(turned ? r.trickWidth : r.trickHeight);
        v.trickChain.sampleAspect =
            OutputAspect(cropWidth, cropHeight, sar, c.quarterTurns, v.trickChain.width,
                         v.trickChain.height, preset.enableAspectRatio);
        v.trickChain.colour = OutputColour(sourceColour, v.trickChain.width, v.trickChain.height,
                                           v.trickChain.frameRate);
        const uint32_t kbps = r.trickKbps < r.videoKbps ? r.trickKbps : r.trickMinKbps;
        v.trickBitrate = static_cast<int64_t>(std::max(1u, kbps)) * 1024;
        plan.size.trickKbps = kbps;
    }
    return {};
}

// The bitrate of audio track k that the derivation gave, in kbps, within
// the profile's audio range.
uint32_t DerivedAudioKbps(const Derived& derived, size_t k, const nvt::ProfileLimits* row) {
    const uint32_t low = nvt::MinAudioBitrateKbps(row);
    const uint32_t high = nvt::MaxAudioBitrateKbps(row);
    uint32_t kbps = k < derived.result.audioKbps.size() ? derived.result.audioKbps[k] : 0;
    if (kbps == 0) {
        kbps = nvt::DefaultAudioBitrateKbps(row);
    }
    return std::max(low, high > 0 ? std::min(kbps, high) : kbps);
}

// alike: every joined file codes this track as the first does.
Status PlanAudioTrack(const TBS::TranscodeRequest& request, const TranscodePlan& plan,
                      const AVStream* stream, bool passBit, bool alike, nvt::AudioCodec wanted,
                      uint32_t kbps, AudioPlan& a) {
    const AVCodecID codec = stream->codecpar->codec_id;
    a.copy = alike && (passBit || (!request.needTranscode && Capabilities::Get().CarriesAudio(
                                                                 plan.profile, stream->codecpar)));
    if (passBit && !alike) {
        LogLine(Severity::Info,
                "audio track %d encoded, not passed through: the joined files "
                "code it differently",
                a.ordinal);
    }
    if (a.copy) {
        a.sourceBitrate =
            stream->codecpar->bit_rate > 0 ? stream->codecpar->bit_rate : TaggedBitrate(stream);
        return {};
    }
    if (avcodec_find_decoder(codec) == nullptr) {
        return {nvt::ENG_DECODER,
                std::string("no decoder for the audio codec ") + avcodec_get_name(codec)};
    }
    a.encoder = AudioEncoderFor(*plan.recipe, wanted);
    if (a.encoder == nullptr) {
        return {nvt::ENG_NO_ENCODER_AUD, "no audio encoder for the profile"};
    }
    a.bitrate = static_cast<int64_t>(kbps) * 1000;
    a.maxChannels = nvt::MaxAudioChannels(plan.profile);
    return {};
}

Status PlanAudio(const TBS::TranscodeRequest& request, const Derived& derived,
                 const AVFormatContext* format, const JoinedCoding& joined, OpenedFiles& files,
                 TranscodePlan& plan) {
    const nvt::ProfileLimits* row =
        nvt::FindProfileLimits(plan.profile, av_q2d(plan.video.frameRate));
    const auto wantedCodec = [&](size_t k) {
        return k < request.dstAudioCodecs.size() ? request.dstAudioCodecs[k] : nvt::AC_UNKNOWN;
    };
    for (size_t k = 0; k < request.audioTracks.size(); ++k) {
        const int ordinal = static_cast<int>(request.audioTracks[k]);
        const AVStream* stream = NthStream(format, AVMEDIA_TYPE_AUDIO, ordinal);
        if (stream == nullptr) {
            LogLine(Severity::Warning, "the source has no audio track %d", ordinal);
            continue;
        }
        AudioPlan a;
        a.ordinal = ordinal;
        a.language = static_cast<size_t>(ordinal) < request.audioLangCodes.size()
                         ? request.audioLangCodes[static_cast<size_t>(ordinal)]
                         : Tag(stream, "language");
        const bool passBit = derived.request.audioPassthrough.Get(k);
        const uint32_t kbps = DerivedAudioKbps(derived, k, row);
        Status planned = PlanAudioTrack(request, plan, stream, passBit, joined.AudioAlike(ordinal),
                                        wantedCodec(k), kbps, a);
        if (!planned.ok()) {
            return planned;
        }
        plan.size.audioKbps += passBit && a.copy && k < derived.summary.audioKbps.size()
                                   ? derived.summary.audioKbps[k]
                                   : kbps;
        plan.audio.push_back(a);
    }
    // Audio files given besides the sources: every audio stream of each
    // becomes a further track, at the bitrate the settings give it.
    size_t next = request.audioTracks.size();
    const std::vector<uint32_t>& bitrates = request.CustomPresetData.audioBitrates;
    for (size_t j = 0; j < request.extraFiles.size(); ++j) {
        const OpenedFiles::Lease probed = files.Probe(request.extraFiles[j]);
        if (probed->err != nvt::SUCCESS) {
            return Unreadable(request.extraFiles[j], probed->err);
        }
        for (int ordinal = 0;; ++ordinal, ++next) {
            const AVStream* stream = NthStream(probed->format.get(), AVMEDIA_TYPE_AUDIO, ordinal);
            if (stream == nullptr) {
                break;
            }
            AudioPlan a;
            a.extra = true;
            a.extraLane = j;
            a.ordinal = ordinal;
            a.language = Tag(stream, "language");
            uint32_t kbps = next < bitrates.size() ? bitrates[next] : 0;
            if (kbps < nvt::MinAudioBitrateKbps(row) || kbps > nvt::MaxAudioBitrateKbps(row)) {
                kbps = nvt::DefaultAudioBitrateKbps(row);
            }
            Status planned =
                PlanAudioTrack(request, plan, stream, false, true, wantedCodec(next), kbps, a);
            if (!planned.ok()) {
                return planned;
            }
            plan.audio.push_back(a);
        }
    }
    return {};
}

size_t ExternalLane(TranscodePlan& plan, const std::string& path) {
    auto& files = plan.externalSubtitleFiles;
    const auto found = std::find(files.begin(), files.end(), path);
    if (found != files.end()) {
        return static_cast<size_t>(found - files.begin());
    }
    files.push_back(path);
    return files.size() - 1;
}

Status PlanSubtitles(const TBS::TranscodeRequest& request, const AVFormatContext* format,
                     OpenedFiles& files, TranscodePlan& plan) {
    const size_t entries = std::min(request.subtitleIDs.size(), request.subtitleTrackNames.size());
    const bool numbered = request.subtitleTracks.size() == entries;
    for (size_t e = 0; e < entries; ++e) {
        const std::string& name = request.subtitleTrackNames[e];
        const int ordinal = std::max(0, request.subtitleIDs[e]);
        const uint32_t value = numbered ? request.subtitleTracks[e] : 0;
        const bool namedTrack = numbered && value >= 100 && value < 1000;
        const bool external = !name.empty() && !namedTrack &&
                              NorvOS::InspectPath(name).kind == NorvOS::PathKind::RegularFile;
        const int page = e < request.subtitleCodePages.size() ? request.subtitleCodePages[e] : 0;
        std::string charset = page > 0 ? EncodingOfCodePage(static_cast<unsigned>(page)) : "";
        if (charset == "UTF-8") {
            charset.clear();
        }
        const AVFormatContext* holder = format;
        OpenedFiles::Lease probed; // the subtitle file, open while it is looked at
        if (external) {
            probed = files.Probe(name);
            if (probed->err != nvt::SUCCESS) {
                LogLine(Severity::Warning, "subtitle file %s cannot be read", name.c_str());
                continue;
            }
            holder = probed->format.get();
        }
        const AVStream* stream = NthStream(holder, AVMEDIA_TYPE_SUBTITLE, ordinal);
        if (stream == nullptr) {
            LogLine(Severity::Warning, "no subtitle track %d in %s", ordinal,
                    external ? name.c_str() : plan.files.front().path.c_str());
            continue;
        }
        const AVCodecID codec = stream->codecpar->codec_id;
        const bool text = IsTextSubtitle(codec);
        SubtitlePlan s;
        s.external = external;
        s.ordinal = ordinal;
        if (request.subtitleBurnFirstTrack) {
            // Only the first selected subtitle is drawn: text by the
            // chain's renderer, pictures blended by the pass.
            if (text) {
                plan.burn = std::make_unique<SubtitleBurn>();
                plan.burn->file = external ? name : plan.files.front().path;
                plan.burn->streamIndex = ordinal;
                plan.burn->charset = charset;
            } else if (avcodec_find_decoder(codec) == nullptr) {
                return {nvt::ENG_DECODER, std::string("no decoder for the subtitle codec ") +
                                              avcodec_get_name(codec)};
            } else {
                s.externalLane = external ? ExternalLane(plan, name) : 0;
                plan.burnPictures = std::make_unique<SubtitlePlan>(s);
            }
            return {};
        }
        s.codec = SubtitleOutputCodec(plan.recipe->muxer, codec);
        if (s.codec == AV_CODEC_ID_NONE && !text) {
            // Dropping them would give a film without its subtitles that
            // looks like success.
            Status refused{nvt::ENG_NOT_COMPATIBLE, std::string("the ") + plan.recipe->muxer +
                                                        " output cannot carry " +
                                                        avcodec_get_name(codec) +
                                                        " picture subtitles; burn them in instead"};
            LogLine(Severity::Error, "%s", refused.why.c_str());
            return refused;
        }
        if (s.codec == AV_CODEC_ID_NONE) {
            LogLine(Severity::Warning, "the %s output cannot carry %s subtitles; left out",
                    plan.recipe->muxer, avcodec_get_name(codec));
            continue;
        }
        s.copy = !text;
        s.externalLane = external ? ExternalLane(plan, name) : 0;
        s.charset = charset;
        s.language = e < request.subtitleLangCodes.size() ? request.subtitleLangCodes[e] : "";
        plan.subtitles.push_back(s);
    }
    return {};
}

} // namespace

Status PlanStreams(const TBS::TranscodeRequest& request, const Derived& derived, OpenedFiles& files,
                   TranscodePlan& plan) {
    double seconds = 0.0;
    OpenedFiles::Lease first; // open until every stream is planned
    std::optional<JoinedCoding> joined;
    for (size_t i = 0; i < plan.files.size(); ++i) {
        OpenedFiles::Lease probed = files.Probe(plan.files[i].path);
        if (probed->err != nvt::SUCCESS) {
            return Unreadable(plan.files[i].path, probed->err);
        }
        const int64_t duration = files.EntryDuration(plan.files[i].path, plan.files[i].trims);
        seconds += static_cast<double>(duration) / AV_TIME_BASE;
        plan.durationKnown = plan.durationKnown && duration > 0;
        plan.inputBytes += probed->size;
        if (i == 0) {
            first = std::move(probed);
            joined.emplace(first->format.get(), first->size);
        } else {
            joined->Add(probed->format.get(), probed->size);
        }
    }
    if (!joined) {
        return {nvt::ENG_INVALID_INPUT_ERR, "no input files"};
    }
    plan.durationSeconds = seconds;
    const AVFormatContext* format = first->format.get();
    const AVStream* video = NthStream(format, AVMEDIA_TYPE_VIDEO, 0);
    if (video == nullptr) {
        return {nvt::ENG_INVALID_VID_STREAM, "the first source has no video"};
    }
    Status result = PlanVideo(request, derived, format, video, *joined, plan);
    if (result.ok()) {
        result = PlanAudio(request, derived, format, *joined, files, plan);
    }
    if (result.ok()) {
        result = PlanSubtitles(request, format, files, plan);
    }
    if (!result.ok()) {
        return result;
    }
    SizeTarget& size = plan.size;
    size.videoKbps = derived.result.videoKbps;
    for (uint32_t kib : derived.summary.extraKiB) {
        size.extraBytes += 1024ull * kib;
    }
    size.estimatedSize = derived.result.estimatedSize;
    if (derived.request.fitToFileSize) {
        size.requestedLimit = request.CustomPresetData.fileSizeLimit;
        if (!derived.result.sizeLimitUnreachable) {
            size.sizeLimit = size.requestedLimit;
        }
    }
    if (plan.video.copy && size.requestedLimit > 0 && !CopyFits(plan)) {
        LogLine(Severity::Info, "video encoded, not copied: %llu bytes of it exceed the limit",
                static_cast<unsigned long long>(plan.video.copiedBytes));
        return EncodeVideoInstead(plan);
    }
    return {};
}

Status EncodeVideoInstead(TranscodePlan& plan) {
    VideoPlan& v = plan.video;
    if (avcodec_find_decoder(v.sourceCodec) == nullptr) {
        return NoVideoDecoder(v.sourceCodec);
    }
    v.copy = false;
    v.twoPass = v.twoPassWhenEncoded;
    return {};
}

} // namespace norv_engine
