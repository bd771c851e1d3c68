#include "termination.h"

#if !defined(_WIN32)
#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <thread>

#include "engine_log.h"
#include "output_file.h"
#endif

namespace norv_engine {

void EndCleanlyOnTermination() {
#if !defined(_WIN32)
    sigset_t signals;
    sigemptyset(&signals);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&signals, sig);
    }
    // Threads started later (the request loop's, FFmpeg's) inherit the mask,
    // so the signal can only be taken here, where cleaning up is safe.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        int sig = 0;
        while (sigwait(&signals, &sig) != 0) {
        }
        LogLine(Severity::Warning, "ended by signal %d; removing the unfinished output", sig);
        OutputFile::RemoveUnfinishedBeforeExit();
        std::_Exit(128 + sig);
    }).detach();
#endif
}

} // namespace norv_engine
