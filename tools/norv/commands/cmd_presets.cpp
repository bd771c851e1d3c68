// norv presets list|show|save|delete: the custom presets of a folder. A
// preset NAME is the file DIR/NAME.preset.
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "commands/commands.h"
#include "common/json_output.h"

namespace norv {

namespace {

namespace fs = std::filesystem;

Ptr<nvt::ICustomPresetFactory> Factory() {
    nvt::ICustomPresetFactory* raw = nullptr;
    Check(CreateCustomPresetFactory(&raw), "cannot make the preset factory");
    return Adopt(raw);
}

Ptr<nvt::ICustomPreset> NewPreset(nvt::ICustomPresetFactory& factory) {
    nvt::ICustomPreset* raw = nullptr;
    Check(factory.CreatePreset(&raw), "cannot make a preset");
    return Adopt(raw);
}

std::string PresetPath(const Invocation& in) {
    const std::string& name = in.presetName;
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("/\\") != std::string::npos) {
        throw Failure("'" + name + "' is not a preset name (no folders in it)",
                      nvt::InvalidArgument);
    }
    return (fs::path(in.presetDir) / (name + ".preset")).string();
}

std::string FormatTime(int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    char text[32] = "-";
    if (const std::tm* local = std::localtime(&seconds)) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    }
    return text;
}

void PrintPreset(const Json& p) {
    for (const auto& item : p.items()) {
        std::printf("%-18s %s\n", item.key().c_str(),
                    item.value().is_string() ? item.value().get<std::string>().c_str()
                                             : item.value().dump().c_str());
    }
}

int List(const Invocation& in, nvt::ICustomPresetFactory& factory) {
    std::error_code error;
    if (!fs::is_directory(in.presetDir, error)) {
        throw Failure(in.presetDir + ": no such folder", nvt::CRTL_FILE_DOES_NOT_EXIST);
    }
    const Json all = PresetListJson(factory, in.presetDir);
    if (in.json) {
        PrintJson(all);
        return 0;
    }
    for (const Json& p : all) {
        std::printf("%-19s  %-20s %-19s %s\n", FormatTime(p["created_ms"].get<int64_t>()).c_str(),
                    p["name"].get<std::string>().c_str(), p["profile"].get<std::string>().c_str(),
                    p["file"].get<std::string>().c_str());
    }
    return 0;
}

int Show(const Invocation& in, nvt::ICustomPresetFactory& factory) {
    const std::string path = PresetPath(in);
    const Ptr<nvt::ICustomPreset> preset = NewPreset(factory);
    Check(preset->Load(Widen(path)), path + ": cannot load preset");
    nvt::CustomPresetData data;
    Check(preset->GetData(data), path + ": preset holds no settings");
    const Json j = PresetJson(path, data);
    if (in.json) {
        PrintJson(j);
    } else {
        PrintPreset(j);
    }
    return 0;
}

int Save(const Invocation& in, nvt::ICustomPresetFactory& factory) {
    const std::string path = PresetPath(in);
    nvt::CustomPresetData data = ResolvePresetData(in.choice, factory);
    data.profileName = in.presetName;
    // A preset saved again keeps its place in the list (oldest first).
    const Ptr<nvt::ICustomPreset> preset = NewPreset(factory);
    nvt::CustomPresetData previous;
    data.creationTime =
        preset->Load(Widen(path)) == nvt::SUCCESS && preset->GetData(previous) == nvt::SUCCESS
            ? previous.creationTime
            : PresetTimeNow();
    std::error_code error;
    fs::create_directories(in.presetDir, error);
    Check(preset->SetData(data), "the settings are not valid");
    Check(preset->SaveAs(Widen(path)), path + ": cannot save preset");
    if (in.json) {
        PrintJson(PresetJson(path, data));
    } else {
        std::printf("saved %s\n", path.c_str());
    }
    return 0;
}

int Delete(const Invocation& in, nvt::ICustomPresetFactory& factory) {
    const std::string path = PresetPath(in);
    const Ptr<nvt::ICustomPreset> preset = NewPreset(factory);
    Check(preset->Load(Widen(path)), path + ": cannot load preset");
    Check(preset->Delete(), path + ": cannot delete preset");
    if (in.json) {
        PrintJson(Json{{"deleted", path}});
    } else {
        std::printf("deleted %s\n", path.c_str());
    }
    return 0;
}

} // namespace

int CommandPresets(const Invocation& in) {
    const Ptr<nvt::ICustomPresetFactory> factory = Factory();
    if (in.presetAction == "list") {
        return List(in, *factory);
    }
    if (in.presetAction == "show") {
        return Show(in, *factory);
    }
    if (in.presetAction == "save") {
        return Save(in, *factory);
    }
    return Delete(in, *factory);
}

} // namespace norv
