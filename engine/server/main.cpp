// NorvEngine: the engine process the library starts for each exchange. Its
// command line ends with the pipe base name; options before it are ignored.
#include <cstdio>

#include "engine_log.h"
#include "request_loop.h"
#include "sandbox.h"
#include "termination.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: NorvEngine [options] PIPE_BASE_NAME\n", stderr);
        return 2;
    }
    norv_engine::PrepareSandbox(); // while the process has one thread
    norv_engine::EndCleanlyOnTermination();
    norv_engine::InstallLog();
    return norv_engine::RequestLoop(argv[argc - 1]).Run();
}
