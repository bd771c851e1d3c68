#include "support/engine_session.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "ipc/transport.h"
#include "support/raw_pipe_peer.h"

namespace norv_test {

bool WaitUntil(const std::function<bool()>& condition, uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

uint32_t ReadPidFile(const std::string& path, uint32_t timeoutMs) {
    uint32_t pid = 0;
    WaitUntil(
        [&] {
            std::ifstream in(path);
            std::string line;
            // The engine writes the id and a line feed; a complete line is a complete id.
            if (std::getline(in, line) && !in.eof() && !line.empty()) {
                pid = static_cast<uint32_t>(std::stoul(line));
            }
            return pid != 0;
        },
        timeoutMs);
    return pid;
}

#if defined(_WIN32)

// Windows keeps no zombies: a process exists while it runs.
bool ProcessExists(uint32_t pid) {
    return pid != 0 && ProcessAlive(pid);
}

bool ProcessRunning(uint32_t pid) {
    return ProcessExists(pid);
}

#else

namespace {

/// The one-letter state of /proc/<pid>/stat, or 0 when there is no such
/// process.
char ProcessStateLetter(uint32_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text)) {
        return 0;
    }
    // "pid (name) S ...": the name may hold anything, so look after its last ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) {
        return 0;
    }
    return text[close + 2];
}

} // namespace

bool ProcessExists(uint32_t pid) {
    return pid != 0 && ProcessStateLetter(pid) != 0;
}

bool ProcessRunning(uint32_t pid) {
    const char state = pid != 0 ? ProcessStateLetter(pid) : 0;
    return state != 0 && state != 'Z' && state != 'X';
}

#endif

std::string UniquePipeName() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    std::ostringstream name;
    name << ":norv-test-" << std::hex << random() << "-" << counter++;
    return name.str();
}

namespace {

#if defined(_WIN32)
/// True when a server end of the named pipe waits for its client.
bool Listening(const std::string& name) {
    return ::WaitNamedPipeA(name.c_str(), 1) != FALSE;
}
#else
/// True when a stream socket listens under the abstract name: a line of
/// /proc/net/unix with the listening flag and the path "@" + name.
bool Listening(const std::string& name) {
    std::ifstream in("/proc/net/unix");
    std::string line;
    std::getline(in, line); // the column titles
    const std::string path = "@" + name;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, refCount, protocol, flags, type, state, inode, linePath;
        fields >> slot >> refCount >> protocol >> flags >> type >> state >> inode;
        std::getline(fields >> std::ws, linePath);
        if (flags == "00010000" && linePath == path) {
            return true;
        }
    }
    return false;
}
#endif

} // namespace

bool WaitForListeningPipes(const std::string& baseName, uint32_t timeoutMs) {
    return WaitUntil(
        [&] {
            return Listening(nvds::ClientToServerPipeName(baseName)) &&
                   Listening(nvds::ServerToClientPipeName(baseName));
        },
        timeoutMs);
}

nvt::Result RecordingCallback::OnProgress(nvt::ISourceMedia* source, uint32_t countOfStages,
                                          uint32_t stage, int32_t stageKind, double progress) {
    CallbackEvent e;
    e.kind = CallbackEvent::Progress;
    e.source = source;
    e.countOfStages = countOfStages;
    e.stage = stage;
    e.stageKind = stageKind;
    e.progress = progress;
    Add(e);
    return nvt::SUCCESS;
}

nvt::Result RecordingCallback::OnComplete(nvt::ISourceMedia* source,
                                          const nvt::WideString& outputFile) {
    CallbackEvent e;
    e.kind = CallbackEvent::Complete;
    e.source = source;
    e.outputFile = outputFile;
    Add(e);
    return nvt::SUCCESS;
}

nvt::Result RecordingCallback::OnCancel() {
    CallbackEvent e;
    e.kind = CallbackEvent::Cancel;
    Add(e);
    return nvt::SUCCESS;
}

nvt::Result RecordingCallback::OnError(nvt::ISourceMedia* source, nvt::Result code) {
    CallbackEvent e;
    e.kind = CallbackEvent::Error;
    e.source = source;
    e.code = code;
    Add(e);
    return nvt::SUCCESS;
}

void RecordingCallback::Add(CallbackEvent event) {
    if (session_ != nullptr) {
        session_->GetState(&event.state);
    }
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back(event);
    changed_.notify_all();
}

std::vector<CallbackEvent> RecordingCallback::Events() {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

bool RecordingCallback::WaitFor(CallbackEvent::Kind kind, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        for (const auto& e : events_) {
            if (e.kind == kind) {
                return true;
            }
        }
        return false;
    });
}

bool RecordingCallback::WaitForCount(size_t count, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return events_.size() >= count; });
}

size_t RecordingCallback::CountOf(CallbackEvent::Kind kind) {
    std::lock_guard<std::mutex> guard(lock_);
    size_t n = 0;
    for (const auto& e : events_) {
        n += e.kind == kind ? 1 : 0;
    }
    return n;
}

} // namespace norv_test
