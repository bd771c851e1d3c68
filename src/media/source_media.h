// Analysed sources and their tracks: read-only models filled once from the
// engine's analysis and shared by reference afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "api/ref_counted_impl.h"
#include "messages/records.h"
#include "norv/media.h"

namespace nvt {

/// Fields every track shares. The reference count lives in the concrete
/// track class, so each track object has exactly one count.
struct SourceMediaTrack {
    std::string name; ///< UTF-8
    double bitrate = 0.0;
    int32_t id = 0;
};

class SourceMediaAudioTrack final : public nvtl::RefCountedImpl<ISourceMediaAudioTrack>,
                                    public SourceMediaTrack {
public:
    Result GetName(WideString& out) override;
    Result GetBitrate(double* out) override;
    Result GetID(int32_t* out) override;
    Result GetCodec(int32_t* out) override;
    Result GetLanguage(WideString& out) override;
    Result GetChannelCount(int32_t* out) override;
    Result GetSampleRate(int32_t* out) override;
    Result GetBitsPerSample(int32_t* out) override;
    Result GetTranscodeRequirement(NorvProfile profile, bool* requiresTranscode,
                                   bool* transcodePossible) override;

    int32_t codec = AC_UNKNOWN;
    WideString language;
    int32_t channelCount = 0;
    int32_t sampleRate = 0;
    int32_t bitsPerSample = 0;
    /// Per profile: (requiresTranscode, transcodePossible).
    std::map<int32_t, std::pair<bool, bool>> transcodeRequirements;
};

class SourceMediaVideoTrack final : public nvtl::RefCountedImpl<ISourceMediaVideoTrack>,
                                    public SourceMediaTrack {
public:
    Result GetName(WideString& out) override;
    Result GetBitrate(double* out) override;
    Result GetID(int32_t* out) override;
    Result GetCodec(int32_t* out) override;
    Result GetWidth(int32_t* out) override;
    Result GetHeight(int32_t* out) override;
    Result GetFrameRate(double* out) override;
    Result GetAspectRatio(double* out) override;
    int32_t GetAngle() override;

    int32_t codec = VC_UNKNOWN;
    int32_t width = 0;
    int32_t height = 0;
    double frameRate = 0.0; ///< frames per second
    double aspectRatio = 0.0;
    int32_t angle = 0;
};

class SourceMediaSubtitleTrack final : public nvtl::RefCountedImpl<ISourceMediaSubtitleTrack>,
                                       public SourceMediaTrack {
public:
    Result GetName(WideString& out) override;
    Result GetBitrate(double* out) override;
    Result GetID(int32_t* out) override;
    Result GetLanguage(WideString& out) override;
    Result GetSubtitleType(int32_t* out) override;

    WideString language;
    int32_t subtitleType = ST_SSA_ASS_INTERNAL;
};

using AudioTrackList = std::vector<nvtl::RefCountedPtr_STLSafe<ISourceMediaAudioTrack>>;
using VideoTrackList = std::vector<nvtl::RefCountedPtr_STLSafe<ISourceMediaVideoTrack>>;
using SubtitleTrackList = std::vector<nvtl::RefCountedPtr_STLSafe<ISourceMediaSubtitleTrack>>;

/// The file chain a source belongs to. Every source made from one analysis
/// shares the one list: a chain of N files gives N sources, which must not
/// hold N copies of an N-entry list. The list itself never changes; assigning
/// or appending makes a new one.
class FileChain {
public:
    FileChain& operator=(std::vector<TBS::SSourceFile> files) {
        files_ = std::make_shared<const std::vector<TBS::SSourceFile>>(std::move(files));
        return *this;
    }
    const std::vector<TBS::SSourceFile>& Files() const {
        static const std::vector<TBS::SSourceFile> kNone;
        return files_ ? *files_ : kNone;
    }
    operator const std::vector<TBS::SSourceFile>&() const { return Files(); }
    size_t size() const { return Files().size(); }
    const TBS::SSourceFile& operator[](size_t i) const { return Files()[i]; }
    const TBS::SSourceFile& front() const { return Files().front(); }
    void push_back(TBS::SSourceFile file) {
        std::vector<TBS::SSourceFile> files = Files();
        files.push_back(std::move(file));
        *this = std::move(files);
    }

private:
    std::shared_ptr<const std::vector<TBS::SSourceFile>> files_;
};

/// One analysed file. The session reads durations, fileSizes and fileList
/// directly; they have no interface operation.
class SourceMedia final : public nvtl::RefCountedImpl<ISourceMedia> {
public:
    /// A source for path with its title taken from the path; everything else
    /// empty, zero or false until the analysis fills it.
    explicit SourceMedia(const WideString& path);

    Result GetFilePath(WideString& out) override;
    Result GetContainerFormatName(WideString& out) override;
    Result GetDuration(uint64_t* out) override;
    Result GetAudioTrackCount(int32_t* out) override;
    Result GetHighLevelAudioTrackCount(int32_t* out) override;
    Result GetUnsupportedAudioTrackCount(int32_t* out) override;
    Result GetAudioTrack(uint32_t index, ISourceMediaAudioTrack** out) override;
    Result GetHighLevelAudioTrack(uint32_t index, ISourceMediaAudioTrack** out) override;
    Result GetUnsupportedAudioTrack(uint32_t index, ISourceMediaAudioTrack** out) override;
    Result GetVideoTrackCount(int32_t* out) override;
    Result GetVideoTrack(uint32_t index, ISourceMediaVideoTrack** out) override;
    Result GetSubtitleTrackCount(int32_t* out) override;
    Result GetSubtitleTrack(uint32_t index, ISourceMediaSubtitleTrack** out) override;
    Result GetFileSize(uint64_t* out) override;
    Result Reserved(uint32_t a, uint32_t b, uint32_t c) override;
    Result GetTitle(WideString& out) override;
    Result GetProfileFlag(NorvProfile profile, bool* out) override;
    bool IsAudioContainer() override;
    bool IsSubtitleContainer() override;

    /// Takes the title from path: the text after its last '/' (or, when it
    /// has none, its last '\'), without the last extension. A path without
    /// either separator leaves the title unchanged.
    void SetTitleFromPath(const WideString& path);

    WideString filePath;
    WideString containerFormatName;
    uint64_t duration = 0; ///< in the engine's unit; GetDuration reports it × 1000
    uint64_t fileSize = 0;
    WideString title;
    std::vector<uint32_t> durations;
    std::vector<uint64_t> fileSizes;
    FileChain fileList;
    AudioTrackList audioTracks;
    AudioTrackList highLevelAudioTracks;
    AudioTrackList unsupportedAudioTracks;
    VideoTrackList videoTracks;
    SubtitleTrackList subtitleTracks;
    std::array<bool, _NP_count_> profileFlags{};
    bool isAudioContainer = false;
    bool isSubtitleContainer = false;
};

/// The SourceMedia behind an interface pointer, or null when the object is
/// not one of the library's sources.
SourceMedia* AsSourceMedia(ISourceMedia* source);

} // namespace nvt
