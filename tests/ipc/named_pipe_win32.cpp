// What only Windows has: the named pipes' modes, sizes, instance count and
// security as the system reports them, and COM on a transcode's worker.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <aclapi.h>
#include <objbase.h>
#include <windows.h>

#include "ipc/transport.h"
#include "ipc_test_util.h"
#include "output/output_settings.h"
#include "platform/local_pipe.h"
#include "platform/text.h"
#include "session/transcode_session.h"
#include "support/engine_session.h"
#include "support/raw_pipe_peer.h"
#include "support/session_run.h"
#include "support/source_builder.h"

namespace {

using NorvOS::CLocalPipe;
using NorvOS::PipeDirection;

// A handle closed when it goes out of scope.
struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
        }
    }
};

TEST(NamedPipe, ServerEndsAreOneWayMessagePipesWithTheirSizes) {
    for (PipeDirection direction : {PipeDirection::Read, PipeDirection::Write}) {
        const std::string name = nvds::ClientToServerPipeName(ipc_test::UniqueBaseName("mode"));
        CLocalPipe server;
        ASSERT_TRUE(server.Create(name, direction));
        const bool serverReads = direction == PipeDirection::Read;
        // The other direction is refused, as the access mode says.
        Handle refused{::CreateFileA(name.c_str(), serverReads ? GENERIC_READ : GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, 0, nullptr)};
        EXPECT_EQ(refused.h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        Handle client{::CreateFileA(name.c_str(), serverReads ? GENERIC_WRITE : GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr)};
        ASSERT_NE(client.h, INVALID_HANDLE_VALUE);
        DWORD flags = 0, outSize = 0, inSize = 0, instances = 0;
        ASSERT_TRUE(::GetNamedPipeInfo(client.h, &flags, &outSize, &inSize, &instances));
        EXPECT_EQ(flags, static_cast<DWORD>(PIPE_TYPE_MESSAGE | PIPE_CLIENT_END));
        EXPECT_EQ(outSize, 4096u);
        EXPECT_EQ(inSize, 4096u);
        // Windows reports an unlimited count as PIPE_UNLIMITED_INSTANCES,
        // Wine as the largest count.
        const DWORD unlimited =
            norv_test::RunningUnderWine() ? ~DWORD(0) : DWORD(PIPE_UNLIMITED_INSTANCES);
        EXPECT_EQ(instances, unlimited);
    }
}

TEST(NamedPipe, MessagesOfAnySizeAreReadWhole) {
    const std::string name = nvds::ClientToServerPipeName(ipc_test::UniqueBaseName("msg"));
    CLocalPipe server;
    ASSERT_TRUE(server.Create(name, PipeDirection::Read));
    CLocalPipe client;
    ASSERT_TRUE(client.Open(name, PipeDirection::Write));
    // One message longer than both the read and the pipe's buffer, read in
    // two parts: the first part reports ERROR_MORE_DATA to the pipe layer.
    const std::string big(10000, 'b');
    std::thread writer([&] { client.Write(big.data(), static_cast<uint32_t>(big.size())); });
    std::string head(4, '\0');
    std::string rest(big.size() - 4, '\0');
    ASSERT_TRUE(server.Read(&head[0], 4));
    ASSERT_TRUE(server.Read(&rest[0], static_cast<uint32_t>(rest.size())));
    writer.join();
    EXPECT_EQ(head + rest, big);
}

TEST(NamedPipe, OnlyThisUserIsAllowedIn) {
    const std::string name = nvds::ClientToServerPipeName(ipc_test::UniqueBaseName("dacl"));
    CLocalPipe server;
    ASSERT_TRUE(server.Create(name, PipeDirection::Read));
    Handle client{
        ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_NE(client.h, INVALID_HANDLE_VALUE);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetSecurityInfo(client.h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 1u);
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, 0, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);

    Handle token{INVALID_HANDLE_VALUE};
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token.h));
    char user[256];
    DWORD size = sizeof user;
    ASSERT_TRUE(::GetTokenInformation(token.h, TokenUser, user, size, &size));
    EXPECT_TRUE(::EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &allowed->SidStart));
    ::LocalFree(descriptor);
}

TEST(TranscodeWorker, RunsWithComInitialised) {
    auto sources = nvt::SourceList{norv_test::SourceBuilder("/v/a.mp4")
                                       .Video(nvt::VC_H264, 1280, 720, 25.0, 16.0 / 9.0, 4e6)
                                       .Audio(1, nvt::AC_AAC, "eng", 128)
                                       .File(0, "/v/a.mp4")
                                       .Get()};
    struct Probe : nvtl::RefCountedImpl<nvt::ITranscodeProgressCB> {
        std::atomic<int> initialised{0}; // 1 yes, -1 no
        std::atomic<bool> done{false};
        nvt::Result OnProgress(nvt::ISourceMedia*, uint32_t, uint32_t, int32_t, double) override {
            const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            if (SUCCEEDED(hr)) {
                ::CoUninitialize();
            }
            initialised = hr == S_FALSE ? 1 : -1;
            return nvt::SUCCESS;
        }
        nvt::Result OnComplete(nvt::ISourceMedia*, const nvt::WideString&) override {
            done = true;
            return nvt::SUCCESS;
        }
        nvt::Result OnCancel() override { return nvt::SUCCESS; }
        nvt::Result OnError(nvt::ISourceMedia*, nvt::Result) override {
            done = true;
            return nvt::SUCCESS;
        }
    };
    auto session = norv_test::NewSession(norv_test::ScriptedEngine({"--progress=1"}));
    nvtl::RefCountedPtr<nvt::ITranscodeOutputSettings> settings(
        new nvt::TranscodeOutputSettings(nvt::NP_HD720));
    ASSERT_EQ(session->AddSource(sources[0].get()), nvt::SUCCESS);
    ASSERT_EQ(session->SetOutputSettings(settings.get()), nvt::SUCCESS);
    nvtl::RefCountedPtr<Probe> probe(new Probe);
    ASSERT_EQ(session->Start(nvt::W("/out/a.mp4"), probe.get()), nvt::SUCCESS);
    ASSERT_TRUE(norv_test::WaitUntil([&] { return probe->done.load(); }));
    EXPECT_EQ(probe->initialised.load(), 1);
}

} // namespace
