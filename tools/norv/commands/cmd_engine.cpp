// norv info, norv profiles: what the engine can do and the output profiles.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "commands/commands.h"
#include "common/engine.h"
#include "common/json_output.h"

namespace norv {

namespace {

namespace fs = std::filesystem;

std::string Join(const Json& list, const char* separator, bool shorten = false) {
    std::string text;
    for (const Json& item : list) {
        const std::string value = item.get<std::string>();
        text += (text.empty() ? "" : separator) + (shorten ? ShortName(value.c_str()) : value);
    }
    return text.empty() ? "-" : text;
}

// The engine's technical details, written to a folder of their own and
// removed: the line that says which of its sandbox's layers are on, or
// "unknown" for an engine that does not say.
class Details {
public:
    Details() {
        std::error_code error;
        folder_ = fs::temp_directory_path(error) /
                  ("norv-info-" + std::to_string(std::random_device()()));
        fs::create_directories(folder_, error);
    }
    ~Details() {
        std::error_code error;
        fs::remove_all(folder_, error);
    }
    Details(const Details&) = delete;
    Details& operator=(const Details&) = delete;

    std::string File() const { return (folder_ / "details.txt").string(); }
    std::string Sandbox() const {
        std::ifstream in(File());
        const std::string key = "Sandbox: ";
        for (std::string line; std::getline(in, line);) {
            if (line.compare(0, key.size(), key) == 0) {
                return line.substr(key.size());
            }
        }
        return "unknown";
    }

private:
    fs::path folder_;
};

} // namespace

int CommandInfo(const Invocation& in) {
    const std::string location = LocateEngine(in.engine);
    const Details details;
    const Ptr<nvt::ITranscodeEngineInfo> info = StartEngine(location, true, details.File());
    Json j = EngineInfoJson(*info, location);
    j["sandbox"] = details.Sandbox();
    if (in.json) {
        PrintJson(j);
        return 0;
    }
    std::printf("engine        %s\n", location.c_str());
    std::printf("version       %s\n", j["version"].get<std::string>().c_str());
    std::printf("formats       %s\n", Join(j["formats"], ", ").c_str());
    std::printf("audio         %s\n", Join(j["audio"], ", ").c_str());
    std::printf("subtitles     %s\n", Join(j["subtitles"], ", ").c_str());
    std::printf("acceleration  %s\n", Join(j["acceleration"], ", ").c_str());
    std::printf("sandbox       %s\n", j["sandbox"].get<std::string>().c_str());
    std::printf("profiles\n");
    for (const Json& p : j["profiles"]) {
        std::printf("  %2d  %-20s %-14s audio out: %s\n", p["id"].get<int>(),
                    p["name"].get<std::string>().c_str(),
                    p["supported"].get<bool>() ? "supported" : "not supported",
                    Join(p["output_audio_codecs"], ", ", true).c_str());
    }
    return 0;
}

int CommandProfiles(const Invocation& in) {
    const std::string location = LocateEngine(in.engine);
    const Ptr<nvt::ITranscodeEngineInfo> info = StartEngine(location, true);
    Json all = Json::array();
    for (int32_t p = 0; p < nvt::_NP_count_; ++p) {
        all.push_back(ProfileJson(static_cast<nvt::NorvProfile>(p), info.get(), in.frameRate));
    }
    if (in.json) {
        PrintJson(all);
        return 0;
    }
    std::printf("%2s  %-19s %-17s %-24s %-19s %-6s %-21s %s\n", "#", "profile", "name",
                "container, audio", "picture", "fps", "video kbps min/def/max",
                "audio kbps min/def/max");
    for (const Json& p : all) {
        const Json& v = p["video_bitrate"];
        const Json& a = p["audio_kbps"];
        const std::string picture = std::to_string(p["min_width"].get<unsigned>()) + "x" +
                                    std::to_string(p["min_height"].get<unsigned>()) + "-" +
                                    std::to_string(p["max_width"].get<unsigned>()) + "x" +
                                    std::to_string(p["max_height"].get<unsigned>());
        const std::string video = std::to_string(v["min"].get<unsigned>() / 1000) + "/" +
                                  std::to_string(v["default"].get<unsigned>() / 1000) + "/" +
                                  std::to_string(v["max"].get<unsigned>() / 1000);
        const std::string audio = std::to_string(a["min"].get<unsigned>()) + "/" +
                                  std::to_string(a["default"].get<unsigned>()) + "/" +
                                  std::to_string(a["max"].get<unsigned>());
        std::printf("%2d  %-19s %-17s %-24s %-19s %-6.2f %-21s %s\n", p["id"].get<int>(),
                    p["name"].get<std::string>().c_str(),
                    p["display_name"].get<std::string>().c_str(),
                    p["description"].get<std::string>().c_str(), picture.c_str(),
                    p["max_frame_rate"].get<double>(), video.c_str(), audio.c_str());
    }
    return 0;
}

} // namespace norv
