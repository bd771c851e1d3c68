// The engine's sandbox, seen from outside: a test build of the engine that,
// once confined, tries what a hostile file would (read a system file, make
// a file beside its input, connect over TCP and to a Unix socket, start a
// process, run a program) fails or is ended, and succeeds with the sandbox
// off; playlists naming the network or files outside the job are refused.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "api/transcoder_logic.h"
#include "corpus.h"
#include "platform/text.h"
#include "support/engine_session.h"
#include "support/temp_dir.h"

namespace nvt {
namespace {

// A listening socket of the test's own; it tells whether anyone connected.
class Listener {
public:
    /// On 127.0.0.1, at a port of the system's choice.
    Listener() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Listen(reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    /// At a path.
    explicit Listener(const std::string& path)
        : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        Listen(reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~Listener() { close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int port() const { return port_; }
    bool Connected() {
        const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            return false;
        }
        close(client);
        return true;
    }

private:
    void Listen(const sockaddr* address, socklen_t length) {
        EXPECT_EQ(bind(fd_, address, length), 0) << std::strerror(errno);
        EXPECT_EQ(listen(fd_, 4), 0) << std::strerror(errno);
    }

    int fd_;
    int port_ = 0;
};

// Analyses path with the engine at location, logging everything to log.
Result Analyse(const std::string& location, const std::string& path, const std::string& log) {
    CNorvTranscoderLogic logic;
    ITranscodeEngineInfo* info = nullptr; // asked for, so that the logger parameters are kept
    EXPECT_EQ(logic.InitTranscodeEngine(W(location.c_str()), SLoggerParam{true, NORV_ALL_MSG, log},
                                        &info, WideString()),
              SUCCESS);
    if (info != nullptr) {
        info->Release();
    }
    std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
    int32_t width = 0, height = 0;
    return logic.CreateMediaSource(W(path.c_str()), &width, &height, WideString(), sources);
}

bool Exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

TEST(EngineSandbox, WhatAHostileFileTriesFailsOrEndsTheEngineAndSucceedsWithTheSandboxOff) {
    norv_test::TempDir dir;
    const std::string inputs = dir.file("in");
    std::filesystem::create_directory(inputs);
    Listener tcp;
    Listener local(dir.file("socket"));
    const std::string created = inputs + "/created";
    const std::string ran = dir.file("ran");
    struct Row {
        std::string probe;
        std::function<bool()> happened; // besides the engine's own word
    };
    const Row rows[] = {
        {"read /etc/passwd", [] { return false; }},
        {"create " + created, [&] { return Exists(created); }},
        {"tcp " + std::to_string(tcp.port()), [&] { return tcp.Connected(); }},
        {"unix " + dir.file("socket"), [&] { return local.Connected(); }},
        {"fork", [] { return false; }},
        {"exec " + ran, [&] { return Exists(ran); }},
    };
    const std::string probe = inputs + "/sandbox-probe.mp4";
    for (const Row& row : rows) {
        for (const bool sandbox : {true, false}) {
            SCOPED_TRACE(row.probe + (sandbox ? "" : " (sandbox off)"));
            norv_test::WriteFile(probe, row.probe + "\n");
            const std::string log = dir.file(sandbox ? "on.log" : "off.log");
            std::filesystem::remove(log);
            const std::string engine =
                sandbox ? std::string(NORV_ENGINE_PROBE)
                        : "/usr/bin/env NORV_ENGINE_SANDBOX=off " + std::string(NORV_ENGINE_PROBE);
            Analyse(engine, probe, log);
            const std::string text = norv_test::ReadFile(log);
            ASSERT_NE(text.find("probe " + row.probe + ": trying"), std::string::npos) << text;
            const bool succeeded =
                text.find("probe " + row.probe + ": succeeded") != std::string::npos;
            // A program the engine became runs on after the analysis ended.
            const bool happened =
                sandbox || succeeded ? row.happened() : norv_test::WaitUntil(row.happened);
            EXPECT_EQ(succeeded || happened, !sandbox) << text;
            if (sandbox) {
                EXPECT_NE(text.find("sandbox: seccomp, Landlock ABI"), std::string::npos) << text;
            }
            std::filesystem::remove(created);
            std::filesystem::remove(ran);
        }
    }
}

TEST(EngineSandbox, PlaylistsNamingTheNetworkOrFilesOutsideTheJobAreRefused) {
    norv_test::TempDir dir;
    norv_test::TempDir elsewhere;
    const std::string secret = elsewhere.file("secret.ts");
    std::filesystem::copy_file(norv_test::CorpusFile("mpeg2.ts"), secret);
    Listener tcp;
    const std::string url = "http://127.0.0.1:" + std::to_string(tcp.port()) + "/clip";
    const std::string live = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n"
                             "#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:2.0,\n";
    // The engine reads split-recording lists itself and takes local files
    // only; FFmpeg reads live streaming playlists, whose references the
    // engine refuses in the log.
    struct Row {
        const char* name;
        std::string text;
        std::string says;
    } const rows[] = {
        {"list.m3u", "#EXTM3U\n" + url + ".mp4\n", ""},
        {"list.ffconcat", "ffconcat version 1.0\nfile '" + url + ".mp4'\n", ""},
        {"live.m3u8", live + url + ".ts\n#EXT-X-ENDLIST\n", "only local files are read"},
        {"live_data.m3u8", live + "data:video/mp2t;base64,R0AR\n#EXT-X-ENDLIST\n", ""},
        {"live_file.m3u8", live + "file:" + secret + "\n#EXT-X-ENDLIST\n",
         "outside the job's files"},
        {"live_path.m3u8", live + secret + "\n#EXT-X-ENDLIST\n", "outside the job's files"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.file(row.name);
        norv_test::WriteFile(path, row.text);
        const std::string log = dir.file(std::string(row.name) + ".log");
        const Result result = Analyse(norv_test::RealEngine(), path, log);
        const std::string text = norv_test::ReadFile(log);
        EXPECT_NE(result, SUCCESS) << text;
        EXPECT_NE(result, ENG_ERR) << "the engine ended\n" << text;
        EXPECT_NE(text.find("ERROR "), std::string::npos) << text;
        if (!row.says.empty()) {
            EXPECT_NE(text.find("refused to read "), std::string::npos) << text;
            EXPECT_NE(text.find(row.says), std::string::npos) << text;
        }
        EXPECT_FALSE(tcp.Connected());
    }
}

} // namespace
} // namespace nvt
