// The engine's analysis of a file of arbitrary contents, run in-process as
// the engine runs it for an AnalyzeRequest, thumbnail included. The first
// byte picks the file's extension (which steers the playlist reader and the
// container name); the rest is the file.
#include <filesystem>
#include <string>
#include <system_error>

#include "analysis.h"
#include "engine_log.h"
#include "fuzz_support.h"

namespace {

const char* const kExtensions[] = {"mp4", "mkv",      "ts",  "mp3", "srt",
                                   "m3u", "ffconcat", "avi", "wav", "mov"};
constexpr size_t kExtensionCount = sizeof(kExtensions) / sizeof(kExtensions[0]);

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    norv_engine::InstallLog(); // FFmpeg's messages go nowhere without a log
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string& dir = norv_fuzz::WorkDir::Path();
    TBS::AnalyzeRequest request;
    request.inputFile = dir + "/input." + kExtensions[data[0] % kExtensionCount];
    request.screenshotFilename = dir + "/thumb.jpg";
    request.widthThumbnailMax = 64;
    request.heightThumbnailMax = 64;
    norv_fuzz::WriteBytes(request.inputFile, data + 1, size - 1);

    const std::atomic<bool> closing{false};
    const norv_engine::StopToken stop(closing);
    const TBS::AnalyzeResponse response = norv_engine::Analyze(request, stop);
    if (response.err == nvt::SUCCESS || response.err == nvt::ENG_NO_AC3_DEC) {
        // What the library relies on: one chain, with a duration and a size
        // for every file of it, and a thumbnail only when one was written.
        NORV_FUZZ_CHECK(response.srcFileListList.size() == 1);
        const size_t files = response.srcFileListList[0].fileList.size();
        NORV_FUZZ_CHECK(files >= 1);
        NORV_FUZZ_CHECK(response.duration.size() == files);
        NORV_FUZZ_CHECK(response.inputFileSize.size() == files);
        NORV_FUZZ_CHECK(response.videoTracks.size() <= 1);
        std::error_code ignored;
        const bool thumbnail = std::filesystem::exists(request.screenshotFilename, ignored);
        NORV_FUZZ_CHECK(thumbnail == (response.thumbWidth > 0 && response.thumbHeight > 0));
        if (thumbnail) {
            NORV_FUZZ_CHECK(response.thumbWidth <= 64 && response.thumbHeight <= 64);
        }
    }
    std::error_code ignored;
    std::filesystem::remove(request.screenshotFilename, ignored);
    return 0;
}
