// Soak: many exchanges with the real engine in one process (analyses, short
// transcodes, cancelled transcodes, exchanges whose engine is killed), with
// the process's open descriptors, threads, child processes and resident
// memory measured before and after. Prints the four figures; exits non-zero
// when an exchange ended otherwise than expected or a figure grew beyond its
// bound (descriptors, threads and children must come back exactly; resident
// memory within kRssBoundKiB).
//
// usage: norv_soak ENGINE CORPUS_FOLDER [EXCHANGES]   (bench/run-soak runs it)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "api/transcoder_logic.h"
#include "output/output_settings.h"
#include "platform/text.h"
#include "session/transcode_session.h"
#include "support/engine_session.h"
#include "support/fault_matrix.h"
#include "support/raw_pipe_peer.h"
#include "support/temp_dir.h"

namespace {

using norv_test::CallbackEvent;
using norv_test::RecordingCallback;
using MediaList = std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>>;

constexpr long kRssBoundKiB = 8 * 1024;

struct Figures {
    int descriptors = 0;
    int threads = 0;
    size_t children = 0;
    long rssKiB = 0;
};

// A number of /proc/self/status ("VmRSS:", "Threads:"); -1 when absent.
long StatusField(const std::string& name) {
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == name) {
            long value = 0;
            in >> value;
            return value;
        }
        in.ignore(1 << 16, '\n');
    }
    return -1;
}

Figures Measure() {
    // What has just ended (engines being reaped, readers being joined)
    // settles first; the wait is for a condition, not a time.
    norv_test::WaitUntil([] { return norv_test::ChildProcesses().empty(); }, 10000);
    return Figures{norv_test::CountOpenDescriptors(), static_cast<int>(StatusField("Threads:")),
                   norv_test::ChildProcesses().size(), StatusField("VmRSS:")};
}

class Soak {
public:
    Soak(std::string engine, std::string corpus)
        : engine_(std::move(engine)), corpus_(std::move(corpus)) {
        std::ofstream list(dir_.file("long.ffconcat"));
        list << "ffconcat version 1.0\n";
        for (int i = 0; i < 3000; ++i) {
            list << "file '" << corpus_ << "/part1.mp4'\n";
        }
    }

    int failures = 0;
    int analyses = 0, transcodes = 0, cancelled = 0, killed = 0;
    bool transcoding = false;

    void Exchange(int i) {
        static const char* const files[] = {"h264_aac.mp4", "h264_ac3.mkv", "mpeg2.ts", "audio.mp3",
                                            "rotated.mp4"};
        switch (i % 10) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
            ++analyses;
            Expect(Analyse(corpus_ + "/" + files[i % 5]).result == nvt::SUCCESS, "analysis");
            break;
        case 5:
        case 6:
            ++transcodes;
            Transcode(Ending::Normal);
            break;
        case 7:
            ++cancelled;
            Transcode(Ending::Cancel);
            break;
        case 8:
            ++killed;
            KilledAnalysis();
            break;
        default:
            ++killed;
            if (transcoding) {
                Transcode(Ending::Kill);
            } else {
                KilledAnalysis();
            }
            break;
        }
    }

    /// Whether the engine transcodes: the answer to a first short transcode.
    void FindOutTranscoding() {
        Run run = Start();
        run.callback->WaitForCount(1);
        norv_test::WaitUntil([&] { return Ended(*run.callback); });
        const auto events = run.callback->Events();
        transcoding = !events.empty() && events.back().kind == CallbackEvent::Complete;
    }

private:
    enum class Ending { Normal, Cancel, Kill };

    struct Analysis {
        nvt::Result result = nvt::NOT_SET;
        MediaList sources;
    };

    struct Run {
        nvtl::RefCountedPtr<nvt::TranscodeSession> session;
        nvtl::RefCountedPtr<RecordingCallback> callback;
    };

    void Expect(bool ok, const char* what) {
        if (!ok) {
            ++failures;
            std::fprintf(stderr, "soak: unexpected outcome of a %s\n", what);
        }
    }

    static bool Ended(RecordingCallback& callback) {
        return callback.CountOf(CallbackEvent::Complete) + callback.CountOf(CallbackEvent::Error) +
                   callback.CountOf(CallbackEvent::Cancel) !=
               0;
    }

    Analysis Analyse(const std::string& path) {
        Analysis a;
        nvtl::RefCountedPtr<nvt::TranscodeSession> session(
            new nvt::TranscodeSession(nvt::W(engine_.c_str())));
        int32_t width = 0, height = 0;
        a.result =
            session->Analyze(nvt::W(path.c_str()), &width, &height, nvt::WideString(), a.sources);
        return a;
    }

    void KilledAnalysis() {
        // Earlier engines end first, so that the one to kill is this
        // exchange's: the child that runs the engine and has connected.
        norv_test::WaitUntil([] { return norv_test::ChildProcesses().empty(); });
        std::thread killer([&] {
            uint32_t pid = 0;
            norv_test::WaitUntil([&] {
                for (uint32_t child : norv_test::ChildProcesses()) {
                    if (norv_test::ProgramConnected(child, engine_)) {
                        pid = child;
                    }
                }
                return pid != 0;
            });
            norv_test::SignalProcess(pid, norv_test::kSigKill);
        });
        const Analysis a = Analyse(dir_.file("long.ffconcat"));
        killer.join();
        if (a.result != nvt::ENG_ERR) {
            std::fprintf(stderr, "soak: killed analysis ended with %d\n",
                         static_cast<int>(a.result));
        }
        Expect(a.result == nvt::ENG_ERR, "killed analysis");
    }

    Run Start() {
        static const MediaList sources = Analyse(corpus_ + "/part1.mp4").sources;
        Run run;
        run.session = new nvt::TranscodeSession(nvt::W(engine_.c_str()));
        nvtl::RefCountedPtr<nvt::ITranscodeOutputSettings> settings(
            new nvt::TranscodeOutputSettings(nvt::NP_Mobile));
        run.callback = new RecordingCallback();
        const bool ok =
            !sources.empty() && run.session->AddSource(sources[0].get()) == nvt::SUCCESS &&
            run.session->SetOutputSettings(settings.get()) == nvt::SUCCESS &&
            run.session->Start(nvt::W(dir_.file("out.mp4").c_str()), run.callback.get()) ==
                nvt::SUCCESS;
        Expect(ok, "transcode start");
        return run;
    }

    void Transcode(Ending ending) {
        Run run = Start();
        if (ending == Ending::Cancel) {
            run.session->Cancel();
            Expect(Ended(*run.callback), "cancelled transcode");
            return;
        }
        if (ending == Ending::Kill) {
            run.callback->WaitFor(CallbackEvent::Progress);
            const auto children = norv_test::ChildProcesses();
            if (!children.empty()) {
                norv_test::SignalProcess(children.front(), norv_test::kSigKill);
            }
        }
        Expect(norv_test::WaitUntil([&] { return Ended(*run.callback); }), "transcode");
        const auto events = run.callback->Events();
        const nvt::Result end = events.empty() ? nvt::NOT_SET : events.back().code;
        if (ending == Ending::Normal) {
            Expect(transcoding ? events.back().kind == CallbackEvent::Complete
                               : end == nvt::ENG_NOTIMPL_ERR,
                   "transcode");
        }
    }

    const std::string engine_;
    const std::string corpus_;
    norv_test::TempDir dir_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: norv_soak ENGINE CORPUS_FOLDER [EXCHANGES]\n");
        return 2;
    }
    const int exchanges = argc > 3 ? std::atoi(argv[3]) : 1000;
    Soak soak(argv[1], argv[2]);
    soak.FindOutTranscoding(); // also the warm-up: what is set up once per process
    for (int i = 0; i < 10; ++i) {
        soak.Exchange(i);
    }
    soak.failures = 0;
    soak.analyses = soak.transcodes = soak.cancelled = soak.killed = 0;

    const Figures start = Measure();
    for (int i = 0; i < exchanges; ++i) {
        soak.Exchange(i);
    }
    const Figures end = Measure();

    std::printf(
        "soak: %d exchanges with the real engine (%d analyses, %d transcodes, %d cancelled, "
        "%d with the engine killed); the engine %s\n",
        exchanges, soak.analyses, soak.transcodes, soak.cancelled, soak.killed,
        soak.transcoding ? "transcodes" : "answers transcodes with ENG_NOTIMPL_ERR");
    std::printf("%-18s %10s %10s\n", "", "start", "end");
    std::printf("%-18s %10d %10d\n", "open descriptors", start.descriptors, end.descriptors);
    std::printf("%-18s %10d %10d\n", "threads", start.threads, end.threads);
    std::printf("%-18s %10zu %10zu\n", "child processes", start.children, end.children);
    std::printf("%-18s %10ld %10ld\n", "resident KiB", start.rssKiB, end.rssKiB);
    const bool steady = end.descriptors <= start.descriptors && end.threads <= start.threads &&
                        end.children == 0 && end.rssKiB - start.rssKiB <= kRssBoundKiB;
    std::printf("soak: %d unexpected outcome(s); figures %s\n", soak.failures,
                steady ? "steady" : "GREW");
    return soak.failures == 0 && steady ? 0 : 1;
}
