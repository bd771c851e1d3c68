#include "support/fault_matrix.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>

#include "support/raw_pipe_peer.h"

namespace norv_test {

const int kSigKill = SIGKILL;
const int kSigStop = SIGSTOP;
const int kSigCont = SIGCONT;

namespace {

int CountEntries(const char* folder) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (dirent* entry = ::readdir(dir)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(dir);
    return count;
}

int CountThreads() {
    return CountEntries("/proc/self/task");
}

std::vector<std::string> ThreadIds() {
    std::vector<std::string> ids;
    DIR* dir = ::opendir("/proc/self/task");
    if (dir == nullptr) {
        return ids;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ids.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return ids;
}

// When a process started, in clock ticks since boot (0 when it is gone).
uint64_t StartTime(uint32_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The fields after the command's closing parenthesis, from the state
    // (the third field) on; the start time is the twenty-second.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int i = 3; i < 22 && (fields >> field); ++i) {
    }
    uint64_t started = 0;
    fields >> started;
    return started;
}

} // namespace

std::vector<uint32_t> ChildProcesses() {
    std::vector<uint32_t> children;
    for (const std::string& tid : ThreadIds()) {
        std::ifstream in("/proc/self/task/" + tid + "/children");
        uint32_t pid = 0;
        while (in >> pid) {
            children.push_back(pid);
        }
    }
    return children;
}

void SignalProcess(uint32_t pid, int signal) {
    if (pid != 0) {
        ::kill(static_cast<pid_t>(pid), signal);
    }
}

bool ProgramConnected(uint32_t pid, const std::string& program) {
    std::error_code error;
    const std::string proc = "/proc/" + std::to_string(pid);
    if (std::filesystem::read_symlink(proc + "/exe", error).string() != program) {
        return false;
    }
    int sockets = 0;
    for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        sockets += target.compare(0, 7, "socket:") == 0 ? 1 : 0;
    }
    return sockets >= 2;
}

bool StartupSemaphoreLeft(uint32_t pid) {
    char name[128];
    std::snprintf(name, sizeof(name), "/dev/shm/sem.{83AB5D5B-695E-4879-8049-63EB7C0F542A}%x", pid);
    return ::access(name, F_OK) == 0;
}

uint32_t FaultRowContext::WaitForEngine() {
    uint32_t pid = 0;
    WaitUntil([&] {
        const auto children = ChildProcesses();
        // The newest: an engine of an earlier exchange may still be ending.
        pid = 0;
        uint64_t newest = 0;
        for (uint32_t child : children) {
            const uint64_t started = StartTime(child);
            if (pid == 0 || started >= newest) {
                pid = child;
                newest = started;
            }
        }
        return pid != 0;
    });
    if (pid != 0) {
        engines_.insert(pid);
    }
    return pid;
}

void ExpectBothCancelAtOnce(nvt::ITranscodeSession& first, RecordingCallback& firstCallback,
                            nvt::ITranscodeSession& second, RecordingCallback& secondCallback) {
    nvt::Result results[2] = {nvt::NOT_SET, nvt::NOT_SET};
    std::thread a([&] { results[0] = first.Cancel(); });
    std::thread b([&] { results[1] = second.Cancel(); });
    a.join();
    b.join();
    EXPECT_EQ(results[0], nvt::SUCCESS);
    EXPECT_EQ(results[1], nvt::SUCCESS);
    EXPECT_EQ(firstCallback.CountOf(CallbackEvent::Cancel), 1u);
    EXPECT_EQ(secondCallback.CountOf(CallbackEvent::Cancel), 1u);
}

void PrimeProcess(const std::function<void()>& exchange) {
    exchange();
    WaitUntil([] { return ChildProcesses().empty(); });
}

void RunFaultRow(const FaultRow& row) {
    const int descriptors = CountOpenDescriptors();
    const int threads = CountThreads();
    FaultRowContext context;
    row.run(context);
    EXPECT_TRUE(WaitUntil([] { return ChildProcesses().empty(); }))
        << ChildProcesses().size() << " engine process(es) left (running or zombie)";
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() <= threads; }))
        << CountThreads() << " threads, " << threads << " before";
    EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() <= descriptors; }))
        << CountOpenDescriptors() << " descriptors, " << descriptors << " before";
    for (uint32_t pid : context.Engines()) {
        EXPECT_FALSE(StartupSemaphoreLeft(pid)) << "start-up semaphore of engine " << pid;
    }
}

} // namespace norv_test
