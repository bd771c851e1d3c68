// norv info, norv profiles: what the engine can do and the output profiles.
#include <cstdio>

#include "commands/commands.h"
#include "common/engine.h"
#include "common/json_output.h"

namespace norv {

namespace {

std::string Join(const Json& list, const char* separator, bool shorten = false) {
    std::string text;
    for (const Json& item : list) {
        const std::string value = item.get<std::string>();
        text += (text.empty() ? "" : separator) + (shorten ? ShortName(value.c_str()) : value);
    }
    return text.empty() ? "-" : text;
}

} // namespace

int CommandInfo(const Invocation& in) {
    const std::string location = LocateEngine(in.engine);
    const Ptr<nvt::ITranscodeEngineInfo> info = StartEngine(location, true);
    const Json j = EngineInfoJson(*info, location);
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
