// The system wrappers under the IPC: local pipes with their last-error codes,
// and named start-up events.
#include <gtest/gtest.h>

#include <thread>

#include "ipc/transport.h"
#include "ipc_test_util.h"
#include "platform/last_error.h"
#include "platform/local_pipe.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "support/raw_pipe_peer.h"

namespace {

using NorvOS::CLocalPipe;
using NorvOS::GetLastSystemError;
using NorvOS::PipeDirection;

std::string PipeName(const std::string& tag) {
    return nvds::ClientToServerPipeName(ipc_test::UniqueBaseName(tag));
}

#if defined(_WIN32)
// Windows refuses a second first instance of a name; Wine lets it through.
bool SystemRefusesTakenNames() {
    return !norv_test::RunningUnderWine();
}
// A write whose reader has gone reports that the pipe is being closed.
constexpr uint32_t kWriteToGonePeer = NorvOS::kErrorNoData;
// A client end's blocked read is cancelled by its own disconnection.
constexpr uint32_t kReadOfDisconnectedEnd = NorvOS::kErrorPipeNotConnected;
#else
bool SystemRefusesTakenNames() {
    return true;
}
constexpr uint32_t kWriteToGonePeer = NorvOS::kErrorBrokenPipe;
constexpr uint32_t kReadOfDisconnectedEnd = NorvOS::kErrorBrokenPipe;
#endif

TEST(LocalPipe, ReportsWin32ErrorsThroughItsLife) {
    const std::string name = PipeName("life");
    CLocalPipe client;
    EXPECT_FALSE(client.Open(name, PipeDirection::Read));
    EXPECT_EQ(GetLastSystemError(), NorvOS::kErrorFileNotFound);

    CLocalPipe server;
    ASSERT_TRUE(server.Create(name, PipeDirection::Write));
    if (SystemRefusesTakenNames()) {
        EXPECT_FALSE(CLocalPipe().Create(name, PipeDirection::Write)); // one instance per name
    }
    char byte = 'x';
    EXPECT_FALSE(server.Write(&byte, 1));
    EXPECT_EQ(GetLastSystemError(), NorvOS::kErrorPipeListening);

    ASSERT_TRUE(client.Open(name, PipeDirection::Read));
    ASSERT_TRUE(server.Write("hello", 5)); // accepts the waiting client
    EXPECT_EQ(GetLastSystemError(), NorvOS::kErrorSuccess);
    char text[5];
    ASSERT_TRUE(client.Read(text, 5));
    EXPECT_EQ(std::string(text, 5), "hello");

    // The peer goes: writes fail, and no signal ends this process.
    client.Close();
    bool writeFailed = false;
    for (int i = 0; i < 100 && !writeFailed; ++i) {
        writeFailed = !server.Write("more", 4);
    }
    EXPECT_TRUE(writeFailed);
    EXPECT_EQ(GetLastSystemError(), kWriteToGonePeer);

    server.Disconnect();
    EXPECT_FALSE(server.IsValid());
    EXPECT_FALSE(server.Write(&byte, 1));
    EXPECT_EQ(GetLastSystemError(), NorvOS::kErrorPipeNotConnected);
}

TEST(LocalPipe, ReaderSeesABrokenPipeWhenTheWriterGoes) {
    const std::string name = PipeName("broken");
    CLocalPipe server;
    ASSERT_TRUE(server.Create(name, PipeDirection::Read));
    CLocalPipe client;
    ASSERT_TRUE(client.Open(name, PipeDirection::Write));
    ASSERT_TRUE(client.Write("ab", 2));
    client.Close();
    char two[2];
    ASSERT_TRUE(server.Read(two, 2)); // what was sent before is still read
    char byte = 'x';
    EXPECT_FALSE(server.Read(&byte, 1));
    EXPECT_EQ(GetLastSystemError(), NorvOS::kErrorBrokenPipe);
}

TEST(LocalPipe, NamesUpToTheSystemsLimitFit) {
    CLocalPipe fits;
    CLocalPipe tooLong;
    const std::string base = PipeName("len");
    const size_t limit = CLocalPipe::kMaxNameLength;
    EXPECT_TRUE(fits.Create(base + std::string(limit - base.size(), 'n'), PipeDirection::Read));
    EXPECT_FALSE(
        tooLong.Create(base + std::string(limit + 1 - base.size(), 'n'), PipeDirection::Read));
    EXPECT_FALSE(CLocalPipe().Create(std::string(), PipeDirection::Read));
}

// The error a Read blocked on pipe reports once another thread disconnects
// the pipe.
uint32_t ReadErrorAfterDisconnect(CLocalPipe& pipe) {
    uint32_t error = 0;
    std::thread reader([&] {
        char byte;
        pipe.Read(&byte, 1);
        error = GetLastSystemError();
    });
    ipc_test::SleepMs(50);
    pipe.Disconnect();
    reader.join();
    return error;
}

TEST(LocalPipe, DisconnectWakesABlockedReader) {
    const std::string name = PipeName("wake");
    CLocalPipe server;
    ASSERT_TRUE(server.Create(name, PipeDirection::Write));
    CLocalPipe client;
    ASSERT_TRUE(client.Open(name, PipeDirection::Read));
    EXPECT_EQ(ReadErrorAfterDisconnect(client), kReadOfDisconnectedEnd);

    // A server end still waiting for its client stops waiting and listening.
    const std::string lonelyName = PipeName("lonely");
    CLocalPipe lonely;
    ASSERT_TRUE(lonely.Create(lonelyName, PipeDirection::Read));
    EXPECT_EQ(ReadErrorAfterDisconnect(lonely), NorvOS::kErrorPipeNotConnected);
    EXPECT_FALSE(CLocalPipe().Open(lonelyName, PipeDirection::Write));
}

TEST(LocalPipe, DisconnectWakesABlockedWriter) {
    const std::string name = PipeName("full");
    CLocalPipe server;
    ASSERT_TRUE(server.Create(name, PipeDirection::Read)); // and never reads
    CLocalPipe client;
    ASSERT_TRUE(client.Open(name, PipeDirection::Write));
    const std::string data(4 * 1024 * 1024, 'w'); // more than the pipe holds
    bool written = true;
    std::thread writer(
        [&] { written = client.Write(data.data(), static_cast<uint32_t>(data.size())); });
    ipc_test::SleepMs(50);
    client.Disconnect();
    writer.join();
    EXPECT_FALSE(written);
}

TEST(LocalPipe, ServerReadWaitsForTheClient) {
    const std::string name = PipeName("await");
    CLocalPipe server;
    ASSERT_TRUE(server.Create(name, PipeDirection::Read));
    std::string got;
    std::thread reader([&] {
        char text[3];
        if (server.Read(text, 3)) {
            got.assign(text, 3);
        }
    });
    ipc_test::SleepMs(50);
    CLocalPipe client;
    const bool sent = client.Open(name, PipeDirection::Write) && client.Write("abc", 3);
    if (!sent) {
        server.Disconnect(); // lets the reader go
    }
    reader.join();
    ASSERT_TRUE(sent);
    EXPECT_EQ(got, "abc");
}

TEST(LocalPipe, FlushEndsWhenThePeerGoesWithoutReading) {
    const std::string name = PipeName("flush");
    CLocalPipe server;
    ASSERT_TRUE(server.Create(name, PipeDirection::Write));
    CLocalPipe client;
    ASSERT_TRUE(client.Open(name, PipeDirection::Read));
    const std::string data(4096, 'd');
    ASSERT_TRUE(server.Write(data.data(), static_cast<uint32_t>(data.size())));
    std::thread closer([&] {
        ipc_test::SleepMs(100);
        client.Close();
    });
    server.Flush(); // returns once the peer has gone
    closer.join();
    server.Flush(); // nothing left to wait for
}

// A peer that is connected but does not read: a bounded flush gives up and
// leaves nothing behind (Windows flushes on a helper thread it must end).
TEST(LocalPipe, BoundedFlushGivesUpWhileThePeerDoesNotRead) {
    const std::string name = PipeName("bounded");
    CLocalPipe server;
    ASSERT_TRUE(server.Create(name, PipeDirection::Write));
    CLocalPipe client;
    ASSERT_TRUE(client.Open(name, PipeDirection::Read));
    std::string data(1000, 'd');
    ASSERT_TRUE(server.Write(data.data(), static_cast<uint32_t>(data.size())));
    const int descriptors = norv_test::CountOpenDescriptors();
    for (uint32_t timeoutMs : {0u, 1u, 100u}) {
        EXPECT_FALSE(server.Flush(timeoutMs)) << timeoutMs;
    }
    EXPECT_EQ(norv_test::CountOpenDescriptors(), descriptors);
    ASSERT_TRUE(client.Read(&data[0], static_cast<uint32_t>(data.size())));
    EXPECT_TRUE(server.Flush(20000)); // all read: done long before the bound
}

TEST(NamedEvent, SignalReachesTheCreatorOnce) {
    const std::string name = "{norv-test-event}" + std::to_string(NorvOS::CurrentProcessId());
    EXPECT_FALSE(NorvOS::CNamedEvent::Signal(name)); // nothing created yet
    auto leftover = NorvOS::CNamedEvent::Create(name);
    ASSERT_TRUE(leftover);
    // A second creation removes the leftover name and starts afresh.
    auto event = NorvOS::CNamedEvent::Create(name);
    ASSERT_TRUE(event);
    EXPECT_FALSE(event->WaitFor(0));
    EXPECT_TRUE(NorvOS::CNamedEvent::Signal(name));
    EXPECT_TRUE(event->WaitFor(ipc_test::kWaitMs));
    EXPECT_FALSE(event->WaitFor(10));
    leftover.reset();
    event.reset();
    EXPECT_FALSE(NorvOS::CNamedEvent::Signal(name)); // removed with the event
    EXPECT_FALSE(NorvOS::CNamedEvent::Create("bad/name"));
}

} // namespace
