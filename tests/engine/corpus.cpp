#include "corpus.h"

#include <cstdlib>
#include <fstream>

namespace norv_test {

std::string RealEngine() {
    return NORV_ENGINE;
}

std::string CorpusFile(const std::string& name) {
    return std::string(NORV_ENGINE_CORPUS) + "/" + name;
}

nlohmann::json Ffprobe(const std::string& name) {
    std::ifstream in(CorpusFile(name) + ".json");
    return nlohmann::json::parse(in, nullptr, false);
}

double Rational(const nlohmann::json& text) {
    if (!text.is_string()) {
        return 0.0;
    }
    const std::string value = text.get<std::string>();
    const size_t slash = value.find('/');
    const double num = std::atof(value.substr(0, slash).c_str());
    if (slash == std::string::npos) {
        return num;
    }
    const double den = std::atof(value.substr(slash + 1).c_str());
    return den != 0.0 ? num / den : 0.0;
}

double Number(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? std::atof(it->get<std::string>().c_str()) : 0.0;
}

} // namespace norv_test
