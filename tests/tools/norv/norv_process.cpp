// What running norv needs the same way on every system.
#include "norv_process.h"

#include <sstream>

#include <gtest/gtest.h>

namespace norv_test {

std::string ScriptedEngine(const std::string& options) {
    return std::string(NORV_SCRIPTED_ENGINE) + " --frame-rate=25000" +
           (options.empty() ? "" : " " + options);
}

namespace {
#if defined(_WIN32)
constexpr char kCacheVariable[] = "LOCALAPPDATA";
#else
constexpr char kCacheVariable[] = "XDG_CACHE_HOME";
#endif
} // namespace

void UseCacheFolder(NorvOptions& options, const std::string& folder) {
    options.env[kCacheVariable] = folder;
}

std::map<std::string, std::string> NorvEnvironment(const NorvOptions& options) {
    std::map<std::string, std::string> env = options.env;
    env.emplace(kCacheVariable, options.folder + "/.norv-cache");
    return env;
}

NorvOutput RunNorv(const std::vector<std::string>& args, const NorvOptions& options) {
    NorvProcess process(args, options);
    return process.Wait();
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        try {
            values.push_back(nlohmann::json::parse(line));
        } catch (const nlohmann::json::exception& e) {
            ADD_FAILURE() << "not JSON: " << line << " (" << e.what() << ")";
        }
    }
    return values;
}

} // namespace norv_test
