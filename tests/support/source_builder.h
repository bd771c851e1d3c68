// Builds analysed sources in memory, field by field, the way an analysis
// fills them, for tests of the code that reads sources.
#pragma once

#include <cstdint>
#include <string>

#include "media/source_media.h"

namespace norv_test {

/// Each call appends a track or sets a field; Get() hands out the source.
/// The builder holds one reference until it is destroyed.
class SourceBuilder {
public:
    explicit SourceBuilder(const std::string& path);

    /// A video track with the picture, frame rate, display aspect and
    /// bitrate (bits per second) given.
    SourceBuilder& Video(nvt::VideoCodec codec, int32_t width = 0, int32_t height = 0,
                         double frameRate = 0.0, double aspect = 0.0, double bitrate = 0.0);
    /// An audio track; bitrate as the source reports it.
    SourceBuilder& Audio(int32_t id, nvt::AudioCodec codec, const char* language,
                         double bitrate = 0.0);
    SourceBuilder& HighLevelAudio(nvt::AudioCodec codec);
    SourceBuilder& Subtitle(const char* language, const char* name, nvt::SubtitleType type);
    /// An entry of the source's file list.
    SourceBuilder& File(unsigned format, const char* path);
    SourceBuilder& FileSize(uint64_t bytes);
    SourceBuilder& AudioContainer();
    SourceBuilder& SubtitleContainer();

    nvtl::RefCountedPtr_STLSafe<nvt::ISourceMedia> Get() const { return holder_; }
    nvt::SourceMedia& Media() const { return *media_; }

private:
    nvt::SourceMedia* media_;
    nvtl::RefCountedPtr_STLSafe<nvt::ISourceMedia> holder_;
};

} // namespace norv_test
