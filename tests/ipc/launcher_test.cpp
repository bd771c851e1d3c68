// Launching the engine: names, command lines, start-up, priority, ending,
// and that launches leave nothing behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <iterator>
#include <optional>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "ipc/launcher.h"
#include "ipc/norv_ipc.h"
#include "ipc/pipe_launcher.h"
#include "ipc/transport.h"
#include "ipc_test_util.h"
#include "platform/process.h"
#include "support/raw_pipe_peer.h"
#include "support/temp_dir.h"

namespace {

// Runs Launch("base") on another thread and waits, up to half the default
// start-up time-out, for it to return. A launch that waited out the time-out
// would not have returned by then. Empty when it has not returned.
std::optional<bool> LaunchReturnsBeforeTheTimeOut(nvds::IPipeLauncher* launcher) {
    auto launched = std::async(std::launch::async, [launcher] { return launcher->Launch("base"); });
    if (launched.wait_for(std::chrono::milliseconds(nvds::kEngineStartupTimeoutMs / 2)) !=
        std::future_status::ready) {
        return std::nullopt;
    }
    return launched.get();
}

#if defined(_WIN32)
// The priority class of the process as Windows reports it, in hexadecimal.
std::string EnginePriority(uint32_t processId) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", norv_test::PriorityClassOf(processId));
    return text;
}
const char* const kIdle = "40";
const char* const kBelowNormal = "4000";
const char* const kAboveNormal = "8000";
const char* const kNormal = "20";
#else
// The nice values of the process's threads, when there are at least two
// (the engine's main thread and its pipe reader) and they all agree.
std::string EnginePriority(uint32_t processId) {
    std::istringstream values(norv_test::NiceValuesOfThreads(processId));
    std::vector<std::string> all{std::istream_iterator<std::string>(values),
                                 std::istream_iterator<std::string>()};
    if (all.size() < 2) {
        return "fewer than two threads";
    }
    for (const auto& v : all) {
        if (v != all[0]) {
            return "mixed: " + norv_test::NiceValuesOfThreads(processId);
        }
    }
    return all[0];
}

const char* const kIdle = "19";
const char* const kBelowNormal = "10";
const char* const kAboveNormal = "-5";
const char* const kNormal = "0";
#endif

nvds::CPipeLauncher* Concrete(const nvtl::RefCountedPtr<nvds::IPipeLauncher>& launcher) {
    return dynamic_cast<nvds::CPipeLauncher*>(launcher.get());
}

TEST(PipeNames, BaseNameAndEventNameHaveTheirFixedShapes) {
    const std::string base = nvds::MakePipeBaseName();
    ASSERT_EQ(base.size(), 76u);
    EXPECT_EQ(base.substr(0, 38), "BCCB6B6A-EAD4-401A-AF91-DDACDCF3185B->");
    const std::string guid = base.substr(38);
    EXPECT_EQ(guid.front(), '{');
    EXPECT_EQ(guid.back(), '}');
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        EXPECT_TRUE(dash ? guid[i] == '-' : std::isxdigit(guid[i]) && !std::islower(guid[i]))
            << guid;
    }
    EXPECT_EQ(guid[15], '4'); // version 4
    EXPECT_NE(std::string("89AB").find(guid[20]), std::string::npos);
    EXPECT_NE(nvds::MakePipeBaseName(), base);
    EXPECT_EQ(nvds::StartupEventName(0x1A2B), "{83AB5D5B-695E-4879-8049-63EB7C0F542A}1a2b");
    EXPECT_EQ(nvds::ServerToClientPipeName("B"), "\\\\.\\Pipe\\B_Server2Client");
    EXPECT_EQ(nvds::ClientToServerPipeName("B"), "\\\\.\\Pipe\\B_Client2Server");
}

// Windows splits command lines and searches programs itself.
#if !defined(_WIN32)
TEST(CommandLine, SplitsByTheWindowsRules) {
    using V = std::vector<std::string>;
    EXPECT_EQ(NorvOS::SplitCommandLine("prog a b"), (V{"prog", "a", "b"}));
    EXPECT_EQ(NorvOS::SplitCommandLine("  prog   a\t b  "), (V{"prog", "a", "b"}));
    EXPECT_EQ(NorvOS::SplitCommandLine("\"my prog\" \"a b\" c"), (V{"my prog", "a b", "c"}));
    EXPECT_EQ(NorvOS::SplitCommandLine("p a\\\\\\\"b"), (V{"p", "a\\\"b"}));    // 3 + quote
    EXPECT_EQ(NorvOS::SplitCommandLine("p \"a\\\\\" b"), (V{"p", "a\\", "b"})); // 2 + quote
    EXPECT_EQ(NorvOS::SplitCommandLine("p a\\b\\\\c"), (V{"p", "a\\b\\\\c"}));
    EXPECT_EQ(NorvOS::SplitCommandLine("p \"\" x"), (V{"p", "", "x"}));
    EXPECT_EQ(NorvOS::SplitCommandLine("p \"a\"\"b\""), (V{"p", "a\"b"}));
    // Inside quotes "" is a literal quote that ends the quoted part; outside,
    // """ is a literal quote.
    EXPECT_EQ(NorvOS::SplitCommandLine("p \"a\"\"b c\""), (V{"p", "a\"b", "c"}));
    EXPECT_EQ(NorvOS::SplitCommandLine("p \"\"\"x y\"\"\""), (V{"p", "\"x", "y\""}));
    EXPECT_EQ(NorvOS::SplitCommandLine("p \"\"\"\"x y\""), (V{"p", "\"x y"}));
    EXPECT_EQ(NorvOS::SplitCommandLine("p a\\\"\"b c\""), (V{"p", "a\"b c"}));
    EXPECT_EQ(NorvOS::SplitCommandLine("c:\\dir\\prog.exe x"), (V{"c:\\dir\\prog.exe", "x"}));
    EXPECT_EQ(NorvOS::SplitCommandLine("/path with/space x"), (V{"/path", "with/space", "x"}));
    EXPECT_TRUE(NorvOS::SplitCommandLine("   ").empty());
}

TEST(CommandLine, ProgramIsSearchedInPath) {
    EXPECT_FALSE(NorvOS::FindProgram("sh").empty());
    EXPECT_EQ(NorvOS::FindProgram("no-such-program-anywhere"), "");
    EXPECT_EQ(NorvOS::FindProgram("/no/such/program"), "");
    EXPECT_EQ(NorvOS::FindProgram("/bin/sh"), "/bin/sh");
}

#endif

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (ipc_test::EnginePath().empty()) {
            GTEST_SKIP() << "the scripted engine is not built";
        }
    }
    void TearDown() override {
        if (launcher_) {
            launcher_->Terminate();
        }
    }

    nvtl::RefCountedPtr<nvds::IPipeLauncher> launcher_;
};

TEST_F(LauncherTest, MissingOrUnrunnableProgramFailsAtOnce) {
    norv_test::TempDir dir;
    const std::string notExecutable = dir.file("engine.txt");
    norv_test::WriteFile(notExecutable, "#!/no/such/interpreter\n");
    std::vector<std::string> commands{dir.file("missing-engine"), "no-such-engine-in-path",
                                      notExecutable};
#if !defined(_WIN32)
    const std::string badInterpreter = dir.file("engine.sh");
    norv_test::WriteFile(badInterpreter, "#!/no/such/interpreter\n");
    ASSERT_EQ(NorvOS::SplitCommandLine("chmod +x " + badInterpreter).size(), 3u);
    NorvOS::CChildProcess chmod;
    ASSERT_TRUE(chmod.Start("chmod +x " + badInterpreter, nullptr));
    ASSERT_TRUE(chmod.WaitForExit(ipc_test::kWaitMs));
    commands.push_back(badInterpreter);
#endif

    for (const std::string& command : commands) {
        ASSERT_TRUE(nvds::CreatePipeLauncher(command, &launcher_)); // default 60 s wait
        EXPECT_EQ(LaunchReturnsBeforeTheTimeOut(launcher_.get()), std::optional<bool>(false))
            << command;
        EXPECT_EQ(Concrete(launcher_)->ProcessId(), 0u);
    }
}

TEST_F(LauncherTest, EngineEndingWithoutSignalIsNotWaitedFor) {
    ASSERT_TRUE(nvds::CreatePipeLauncher(ipc_test::EnginePath() + " --exit-now", &launcher_));
    EXPECT_EQ(LaunchReturnsBeforeTheTimeOut(launcher_.get()), std::optional<bool>(false));
}

TEST_F(LauncherTest, SilentEngineTimesOutAndIsLeftRunning) {
    ASSERT_TRUE(nvds::CreatePipeLauncher(ipc_test::EnginePath() + " --no-startup --linger=60000",
                                         &launcher_, 300));
    EXPECT_FALSE(launcher_->Launch("base"));
    const uint32_t pid = Concrete(launcher_)->ProcessId();
    ASSERT_NE(pid, 0u);
    EXPECT_TRUE(norv_test::ProcessAlive(pid));
    EXPECT_TRUE(launcher_->Terminate());
    EXPECT_EQ(Concrete(launcher_)->ProcessId(), 0u);
    bool gone = false;
    for (int i = 0; i < 3000 && !gone; ++i) {
        gone = !norv_test::ProcessAlive(pid);
        ipc_test::SleepMs(10);
    }
    EXPECT_TRUE(gone);
    EXPECT_FALSE(launcher_->Terminate());
}

TEST_F(LauncherTest, LateSignalWithinTheTimeOutSucceeds) {
    ASSERT_TRUE(nvds::CreatePipeLauncher(ipc_test::EnginePath() + " --startup-delay=300",
                                         &launcher_, ipc_test::kWaitMs));
    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    EXPECT_TRUE(nvds::CreatePipeIPC(nvds::MakePipeBaseName(), true, launcher_.get(), &channel));
}

TEST_F(LauncherTest, NullArgumentsUseTheCommandAlone) {
    const std::string base = ipc_test::UniqueBaseName("null");
    nvtl::RefCountedPtr<nvds::ITransportIPC> server;
    ASSERT_TRUE(nvds::CreatePipeTransport(base, true, nullptr, &server));
    ASSERT_TRUE(server->Open());
    ASSERT_TRUE(nvds::CreatePipeLauncher(ipc_test::EnginePath() + " " + base, &launcher_));
    EXPECT_TRUE(launcher_->Launch(nullptr));
    server->Close();
}

TEST_F(LauncherTest, PriorityClassReachesEveryThreadOfTheEngine) {
    ASSERT_TRUE(nvds::CreatePipeLauncher(ipc_test::EnginePath(), &launcher_));
    EXPECT_FALSE(launcher_->SetPriority(0)); // nothing launched yet; stored
    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    ASSERT_TRUE(nvds::CreatePipeIPC(nvds::MakePipeBaseName(), true, launcher_.get(), &channel));
    const uint32_t pid = Concrete(launcher_)->ProcessId();
    EXPECT_EQ(EnginePriority(pid), kIdle);
    EXPECT_TRUE(launcher_->SetPriority(1));
    EXPECT_EQ(EnginePriority(pid), kBelowNormal);
    EXPECT_TRUE(launcher_->SetPriority(3));
    EXPECT_EQ(EnginePriority(pid), kAboveNormal);
    EXPECT_TRUE(launcher_->SetPriority(7));
    EXPECT_EQ(EnginePriority(pid), kNormal);
    EXPECT_EQ(nvds::PriorityClassForLevel(7), 0x20u);
    EXPECT_EQ(nvds::PriorityClassForLevel(0), 0x40u);
    EXPECT_EQ(nvds::PriorityClassForLevel(1), 0x4000u);
    EXPECT_EQ(nvds::PriorityClassForLevel(3), 0x8000u);
}

#if defined(_WIN32)
// The engine runs in a job object that ends it with the launcher (and with
// the application), whatever the engine does.
TEST_F(LauncherTest, EngineEndsWithTheLauncher) {
    ASSERT_TRUE(nvds::CreatePipeLauncher(ipc_test::EnginePath() + " --no-startup --linger=60000",
                                         &launcher_, 300));
    EXPECT_FALSE(launcher_->Launch("base"));
    const uint32_t pid = Concrete(launcher_)->ProcessId();
    ASSERT_NE(pid, 0u);
    HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(process, nullptr);
    BOOL inJob = FALSE;
    EXPECT_TRUE(::IsProcessInJob(process, nullptr, &inJob)) << ::GetLastError();
    EXPECT_TRUE(inJob);
    launcher_.reset();
    EXPECT_EQ(::WaitForSingleObject(process, ipc_test::kWaitMs), WAIT_OBJECT_0);
    ::CloseHandle(process);
}
#endif

TEST_F(LauncherTest, TerminateWithoutProcessChangesNothing) {
    ASSERT_TRUE(nvds::CreatePipeLauncher(ipc_test::EnginePath(), &launcher_));
    EXPECT_FALSE(launcher_->Terminate());
    EXPECT_FALSE(launcher_->SetPriority(2));
    EXPECT_FALSE(nvds::CreatePipeLauncher("x", nullptr));
}

TEST_F(LauncherTest, ManyLaunchesLeaveNoZombieAndNoDescriptor) {
    const int descriptorsBefore = norv_test::CountOpenDescriptors();
#if defined(_WIN32)
    const int launches = 24; // a Windows process takes far longer to start
#else
    const int launches = 200;
#endif
    for (int i = 0; i < launches; ++i) {
        nvtl::RefCountedPtr<nvds::IPipeLauncher> launcher;
        const char* options = i % 4 == 3 ? " --no-startup --linger=60000" : " --signal-only";
        ASSERT_TRUE(nvds::CreatePipeLauncher(ipc_test::EnginePath() + options, &launcher,
                                             i % 4 == 3 ? 1 : ipc_test::kWaitMs));
        const bool started = launcher->Launch("base");
        EXPECT_EQ(started, i % 4 != 3) << i;
        if (i % 8 == 3) {
            EXPECT_TRUE(launcher->Terminate());
        }
        // Every other silent engine is forgotten while it runs, and killed
        // here, so that its waiter reaps it after the launcher is gone.
        if (i % 8 == 7) {
            const uint32_t pid = Concrete(launcher)->ProcessId();
            launcher.reset();
            norv_test::KillProcess(pid);
        }
    }
    int zombies = -1;
    int descriptors = -1;
    for (int i = 0; i < 3000; ++i) {
        zombies = norv_test::CountZombieChildren();
        descriptors = norv_test::CountOpenDescriptors();
        if (zombies == 0 && descriptors == descriptorsBefore) {
            break;
        }
        ipc_test::SleepMs(10);
    }
    EXPECT_EQ(zombies, 0);
    EXPECT_EQ(descriptors, descriptorsBefore);
}

} // namespace
