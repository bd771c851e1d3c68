#include "engine_log.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>

#include "ffmpeg.h"
#include "norv/enums.h"
#include "platform/process.h"

namespace norv_engine {

namespace {

constexpr int kSeverityCount = 7;

const char* const kSeverityNames[kSeverityCount] = {"CRITICAL", "ERROR", "WARNING", "INFO",
                                                    "HEADER",   "DEBUG", "PROGRESS"};

struct LogState {
    std::mutex lock;
    std::ofstream file;
    std::string path;
};

LogState& State() {
    static LogState state;
    return state;
}

// One bit per Severity that is written; read without the lock on every call.
std::atomic<unsigned> g_enabled{0};

unsigned Bit(Severity s) {
    return 1u << static_cast<unsigned>(s);
}

unsigned EnabledMask(int level) {
    if ((level & nvt::NORV_ALL_MSG) != 0) {
        return (1u << kSeverityCount) - 1;
    }
    // The least severe level bit set is the threshold.
    const int levelBits[] = {nvt::NORV_CRITICAL_MSG, nvt::NORV_ERROR_MSG,  nvt::NORV_WARNING_MSG,
                             nvt::NORV_INFO_MSG,     nvt::NORV_HEADER_MSG, nvt::NORV_DEBUG_MSG};
    unsigned mask = 0;
    for (int i = 5; i >= 0; --i) {
        if ((level & levelBits[i]) != 0) {
            mask = (1u << (i + 1)) - 1;
            break;
        }
    }
    if ((level & nvt::NORV_PROGRESS_MSG) != 0) {
        mask |= Bit(Severity::Progress);
    }
    return mask;
}

// FFmpeg's level for the least severe message the mask writes.
int FfmpegLevel(unsigned mask) {
    const int levels[] = {AV_LOG_FATAL, AV_LOG_ERROR,   AV_LOG_WARNING,
                          AV_LOG_INFO,  AV_LOG_VERBOSE, AV_LOG_DEBUG};
    int level = AV_LOG_QUIET;
    for (int i = 0; i < 6; ++i) {
        if ((mask & (1u << i)) != 0) {
            level = levels[i];
        }
    }
    return level;
}

Severity FromFfmpeg(int level) {
    if (level <= AV_LOG_FATAL) {
        return Severity::Critical;
    }
    if (level <= AV_LOG_ERROR) {
        return Severity::Error;
    }
    if (level <= AV_LOG_WARNING) {
        return Severity::Warning;
    }
    if (level <= AV_LOG_INFO) {
        return Severity::Info;
    }
    if (level <= AV_LOG_VERBOSE) {
        return Severity::Header;
    }
    return Severity::Debug;
}

// Called with the log's lock held.
std::string Timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    // Called with the log's lock held, the only caller of gmtime.
    const std::tm utc = *std::gmtime(&seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

void WriteLine(Severity severity, const std::string& text, const char* origin) {
    LogState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.file.is_open()) {
        return;
    }
    state.file << Timestamp() << " [" << NorvOS::CurrentProcessId() << "] "
               << kSeverityNames[static_cast<int>(severity)] << " " << origin << text << '\n';
    state.file.flush();
}

// FFmpeg hands a line over in pieces; each thread collects its own until the
// line feed.
void FfmpegCallback(void* context, int level, const char* format, va_list args) {
    const Severity severity = FromFfmpeg(level);
    if (!LogEnabled(severity)) {
        return;
    }
    thread_local int printPrefix = 1;
    thread_local std::string pending;
    char piece[1024];
    av_log_format_line2(context, level, format, args, piece, sizeof piece, &printPrefix);
    pending += piece;
    if (!pending.empty() && pending.back() == '\n') {
        pending.pop_back();
        WriteLine(severity, pending, "ffmpeg: ");
        pending.clear();
    }
}

} // namespace

void InstallLog() {
    av_log_set_level(AV_LOG_QUIET);
    av_log_set_callback(FfmpegCallback);
}

void ConfigureLog(const nvt::SLoggerParam& param) {
    const unsigned mask = param.enableLogs ? EnabledMask(param.logLevel) : 0;
    LogState& state = State();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (mask == 0 || param.logPath.empty()) {
            g_enabled = 0;
            state.file.close();
            state.path.clear();
            av_log_set_level(AV_LOG_QUIET);
            return;
        }
        if (!state.file.is_open() || state.path != param.logPath) {
            state.file.close();
            state.file.clear();
            state.file.open(param.logPath, std::ios::out | std::ios::app);
            state.path = param.logPath;
        }
        g_enabled = state.file.is_open() ? mask : 0;
    }
    av_log_set_level(FfmpegLevel(g_enabled));
}

bool LogEnabled(Severity severity) {
    return (g_enabled.load(std::memory_order_relaxed) & Bit(severity)) != 0;
}

void LogLine(Severity severity, const char* format, ...) {
    if (!LogEnabled(severity)) {
        return;
    }
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    WriteLine(severity, text, "");
}

} // namespace norv_engine
