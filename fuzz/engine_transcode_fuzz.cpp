// A whole transcode of a file of arbitrary contents, run in-process as the
// engine runs a TranscodeRequest: the analysis the plan is made from, the
// plan, one pass decoding, filtering and encoding picture and sound, and
// the output moved into place. The first byte picks the file's extension,
// the second the output settings; the rest is the file. A playlist may name
// "part.mp4", a small valid clip kept beside the input.
//
// Each input gets a few seconds (a watchdog raises the job's stop token),
// so that a file claiming hours of pictures costs a bounded time; libFuzzer's
// -timeout and -rss_limit_mb bound the rest.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "api/ref_counted_impl.h"
#include "engine_log.h"
#include "fuzz_support.h"
#include "ipc/norv_ipc.h"
#include "transcode_job.h"

namespace {

const char* const kExtensions[] = {"mp4",  "mkv",  "avi", "ts",  "mov", "flv",
                                   "webm", "mpg",  "mp3", "wav", "ac3", "aac",
                                   "h264", "hevc", "m2v", "srt", "m3u", "ffconcat"};
constexpr size_t kExtensionCount = sizeof(kExtensions) / sizeof(kExtensions[0]);

// The encoders of the profiles: FFmpeg's MPEG-4 in AVI, x264 in MP4 and in
// Matroska, x265 in Matroska.
const nvt::NorvProfile kProfiles[] = {nvt::NP_Mobile, nvt::NP_iPhoneMP4H264, nvt::NP_NorvPlusHD,
                                      nvt::NP_HEVC720};

// How long one input may transcode before its job is asked to stop.
constexpr auto kJobTime = std::chrono::seconds(8);

// The engine's replies go nowhere.
class Discard : public nvtl::RefCountedImpl<nvds::INorvIPC> {
public:
    bool Subscribe(const nvt::WideString&, const nvtl::RefCountedPtr<nvds::INorvIPCCallback>&,
                   bool) override {
        return true;
    }
    bool Subscribe(const std::string&, const nvtl::RefCountedPtr<nvds::INorvIPCCallback>&,
                   bool) override {
        return true;
    }
    bool Send(const nvt::WideString&, const nvt::WideString&, uint32_t, const void*,
              uint32_t* sent) override {
        if (sent != nullptr) {
            *sent = 1;
        }
        return true;
    }
    bool Send(const std::string&, const std::string&, uint32_t, const void*,
              uint32_t* sent) override {
        if (sent != nullptr) {
            *sent = 1;
        }
        return true;
    }
};

// Raises a job's stop token when the job runs too long.
class Watchdog {
public:
    Watchdog(norv_engine::StopToken& stop) : stop_(stop), thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> guard(lock_);
        if (!changed_.wait_for(guard, kJobTime, [this] { return done_; })) {
            stop_.Cancel();
        }
    }

    norv_engine::StopToken& stop_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

void RemoveAllBut(const std::string& dir, const std::string& keep) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
        if (entry.path().filename() != keep) {
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    norv_engine::InstallLog(); // FFmpeg's messages go nowhere without a log
    // The clip a playlist may name: the first file under NORV_FUZZ_PART, if
    // set (fuzz/run sets it), else none.
    if (const char* part = std::getenv("NORV_FUZZ_PART")) {
        std::error_code ignored;
        std::filesystem::copy_file(part, norv_fuzz::WorkDir::Path() + "/part.mp4",
                                   std::filesystem::copy_options::overwrite_existing, ignored);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string& dir = norv_fuzz::WorkDir::Path();
    const uint8_t settings = data[1];
    const std::string extension = kExtensions[data[0] % kExtensionCount];
    const std::string input = dir + "/input." + extension;
    TBS::TranscodeRequest request;
    request.inputFiles = {input};
    request.outputFile = dir + "/output.out";
    request.tempDir = dir;
    request.useTempDir = (settings & 0x80) != 0;
    request.needTranscode = true;
    nvt::CustomPresetData& preset = request.CustomPresetData;
    preset = nvt::CustomPresetData(kProfiles[settings & 3]);
    // A small picture keeps each input quick, whatever size the file claims.
    preset.resWidth = 160;
    preset.resHeight = 96;
    preset.videoPassthrough = (settings & 0x10) != 0;
    preset.audioPassthrough = (settings & 0x20) != 0;
    request.audioTracks = {0};
    if ((settings & 0x40) != 0) {
        request.audioTracks.push_back(1);
    }
    const bool subtitles = (settings & 0x0C) != 0 || extension == "srt";
    request.subtitleBurnFirstTrack = (settings & 0x04) != 0;
    if (extension == "srt" || extension == "mp3" || extension == "wav" || extension == "ac3" ||
        extension == "aac") {
        // Sound and subtitles are given beside a film, as the library sends
        // an audio file or a subtitle file the application added.
        request.inputFiles = {dir + "/part.mp4"};
        if (extension == "srt") {
            request.subtitleTracks = {0};
            request.subtitleIDs = {0};
            request.subtitleTrackNames = {input};
        } else {
            request.extraFiles = {input};
        }
    } else if (subtitles) {
        request.subtitleTracks = {0};
        request.subtitleIDs = {0};
        request.subtitleTrackNames = {std::string()};
    }
    norv_fuzz::WriteBytes(input, data + 2, size - 2);

    nvtl::RefCountedPtr<Discard> channel(new Discard());
    norv_engine::Replier reply(channel.get());
    const std::atomic<bool> closing{false};
    norv_engine::StopToken stop(closing);
    TBS::TranscodeResponse response;
    {
        Watchdog watchdog(stop);
        response = norv_engine::RunTranscode(request, stop, reply);
    }
    if (std::getenv("NORV_FUZZ_VERBOSE") != nullptr) {
        std::fprintf(stderr, "%s: %u %s\n", extension.c_str(), response.resultID,
                     response.resultDescription.c_str());
    }
    // What the library relies on: a successful job leaves its output, and
    // a failed or stopped one leaves nothing but the input (and the clip).
    std::error_code ignored;
    const bool written = std::filesystem::exists(request.outputFile, ignored);
    NORV_FUZZ_CHECK(written == (response.resultID == 0));
    NORV_FUZZ_CHECK(response.resultID == 0 || !response.resultDescription.empty());
    size_t left = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
        const std::string name = entry.path().filename().string();
        left += name != "part.mp4" && name != "output.out" && entry.path().string() != input;
    }
    NORV_FUZZ_CHECK(left == 0);
    RemoveAllBut(dir, "part.mp4");
    return 0;
}
