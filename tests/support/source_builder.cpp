#include "support/source_builder.h"

#include "platform/text.h"

namespace norv_test {

namespace {

nvt::SourceMediaAudioTrack* MakeAudio(int32_t id, nvt::AudioCodec codec, const char* language,
                                      double bitrate) {
    auto* track = new nvt::SourceMediaAudioTrack;
    track->id = id;
    track->codec = codec;
    track->language = nvt::W(language);
    track->bitrate = bitrate;
    return track;
}

} // namespace

SourceBuilder::SourceBuilder(const std::string& path)
    : media_(new nvt::SourceMedia(nvt::W(path.c_str()))) {
    holder_ = media_;
}

SourceBuilder& SourceBuilder::Video(nvt::VideoCodec codec, int32_t width, int32_t height,
                                    double frameRate, double aspect, double bitrate) {
    auto* track = new nvt::SourceMediaVideoTrack;
    track->codec = codec;
    track->width = width;
    track->height = height;
    track->frameRate = frameRate;
    track->aspectRatio = aspect;
    track->bitrate = bitrate;
    media_->videoTracks.emplace_back();
    media_->videoTracks.back() = track;
    return *this;
}

SourceBuilder& SourceBuilder::Audio(int32_t id, nvt::AudioCodec codec, const char* language,
                                    double bitrate) {
    media_->audioTracks.emplace_back();
    media_->audioTracks.back() = MakeAudio(id, codec, language, bitrate);
    return *this;
}

SourceBuilder& SourceBuilder::HighLevelAudio(nvt::AudioCodec codec) {
    media_->highLevelAudioTracks.emplace_back();
    media_->highLevelAudioTracks.back() = MakeAudio(0, codec, "", 0.0);
    return *this;
}

SourceBuilder& SourceBuilder::Subtitle(const char* language, const char* name,
                                       nvt::SubtitleType type) {
    auto* track = new nvt::SourceMediaSubtitleTrack;
    track->language = nvt::W(language);
    track->name = name;
    track->subtitleType = type;
    media_->subtitleTracks.emplace_back();
    media_->subtitleTracks.back() = track;
    return *this;
}

SourceBuilder& SourceBuilder::File(unsigned format, const char* path) {
    media_->fileList.push_back(TBS::SSourceFile{format, path});
    return *this;
}

SourceBuilder& SourceBuilder::FileSize(uint64_t bytes) {
    media_->fileSize = bytes;
    return *this;
}

SourceBuilder& SourceBuilder::AudioContainer() {
    media_->isAudioContainer = true;
    return *this;
}

SourceBuilder& SourceBuilder::SubtitleContainer() {
    media_->isSubtitleContainer = true;
    return *this;
}

} // namespace norv_test
