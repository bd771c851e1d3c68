#include "common/engine.h"

#include <cstdlib>
#include <filesystem>

#include "common/console.h"

namespace norv {

namespace {

#if defined(_WIN32)
constexpr char kEngineName[] = "NorvEngine.exe";
#else
constexpr char kEngineName[] = "NorvEngine";
#endif

std::string AsCommand(const std::string& value) {
    std::error_code error;
    if (value.find(' ') != std::string::npos && std::filesystem::is_regular_file(value, error)) {
        return "\"" + value + "\"";
    }
    return value;
}

} // namespace

std::string LocateEngine(const std::string& engineOption) {
    if (!engineOption.empty()) {
        return AsCommand(engineOption);
    }
    const char* fromEnvironment = std::getenv("NORV_ENGINE");
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') {
        return AsCommand(fromEnvironment);
    }
    const std::string folder = ExecutableFolder();
    const std::filesystem::path beside = std::filesystem::path(folder) / kEngineName;
    std::error_code error;
    if (!folder.empty() && std::filesystem::is_regular_file(beside, error)) {
        return AsCommand(beside.string());
    }
    throw Failure("no engine: give --engine PATH, set NORV_ENGINE, or install " +
                      std::string(kEngineName) + " beside norv (" + beside.string() + ")",
                  nvt::ENG_ERR);
}

Ptr<nvt::ITranscodeEngineInfo> StartEngine(const std::string& location, bool wantInfo,
                                           const std::string& detailsFile) {
    nvt::ITranscodeEngineInfo* raw = nullptr;
    const nvt::Result result = InitTranscodeEngine(Widen(location), nvt::SLoggerParam(),
                                                   wantInfo ? &raw : nullptr, Widen(detailsFile));
    const Ptr<nvt::ITranscodeEngineInfo> info = Adopt(raw);
    Check(result, "cannot start the engine \"" + location + "\"");
    return info;
}

} // namespace norv
