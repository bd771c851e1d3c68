// norv serve: a page in the browser for people who would rather look than
// type. It serves the page and its API on the loopback addresses, runs the
// queue's jobs through the library in this process, and keeps the queue in
// the user's state folder, until Ctrl-C (or SIGTERM) stops it.
#include <chrono>
#include <cstdio>
#include <thread>

#include "commands/commands.h"
#include "common/console.h"
#include "common/engine.h"
#include "serve/access.h"
#include "serve/catalog.h"
#include "serve/desktop.h"
#include "serve/http_server.h"
#include "serve/job_board.h"
#include "serve/job_runner.h"
#include "serve/page_api.h"
#include "serve/page_assets.h"
#include "serve/roots.h"

namespace norv {

namespace {

bool Loopback(const std::string& address) {
    return address.compare(0, 4, "127.") == 0 || address == "::1";
}

std::string MakeFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) {
        throw Failure(PathText(folder) + ": cannot make the folder", nvt::ENG_WRITING_ERROR);
    }
    return PathText(folder);
}

} // namespace

int CommandServe(const Invocation& in) {
    const std::string stateText = DefaultStateFolder();
    if (stateText.empty()) {
        throw Failure("no state folder: set HOME or XDG_STATE_HOME", nvt::InvalidArgument);
    }
    const fs::path state = TextPath(MakeFolder(TextPath(stateText)));
    const FolderLock lock(PathText(state / "serve.lock"));

    ServeContext context;
    context.info = StartEngine(LocateEngine(in.engine), true);
    context.presetDir = in.presetDir.empty() ? DefaultPresetFolder() : in.presetDir;
    context.logDir = MakeFolder(state / "serve-logs");

    Roots roots(in.roots.empty() ? std::vector<std::string>{"."} : in.roots,
                in.outputDir.empty() ? std::string("converted") : in.outputDir);
    JobBoard board(PathText(state / "serve-queue.json"),
                   [&roots](const std::string& path) { return roots.DisplayName(TextPath(path)); });
    board.Load();
    Catalog catalog;

    const std::vector<std::string> addresses = in.listen.empty()
                                                   ? std::vector<std::string>{"127.0.0.1", "::1"}
                                                   : std::vector<std::string>{in.listen};
    if (!in.listen.empty() && !Loopback(in.listen)) {
        std::fprintf(stderr,
                     "norv serve: warning: listening on %s, not on a loopback address: whoever "
                     "reaches it and learns the address with its token can use the page\n",
                     in.listen.c_str());
    }
    PageApi* api = nullptr;
    HttpServer server(
        [&api](HttpRequest request, std::shared_ptr<Responder> responder) {
            api->Handle(std::move(request), std::move(responder));
        },
        in.heartbeat);
    const uint16_t port = server.Listen(addresses, in.port);
    const Access access(addresses, port);
    PageApi pageApi(access, roots, catalog, board, context);
    api = &pageApi;
    JobRunner runner(board, catalog, roots, context);
    runner.Start();
    server.Start();

    if (in.json) {
        PrintJson(Json{{"url", access.Url()},
                       {"port", port},
                       {"output", PathText(roots.output())},
                       {"queue", PathText(state / "serve-queue.json")},
                       {"page_bytes", PageWeight()}});
    } else {
        std::printf("norv serve: open %s\n", access.Url().c_str());
        std::fflush(stdout);
        for (size_t i = 0; i < roots.count(); ++i) {
            std::fprintf(stderr, "  root    %s\n", PathText(roots.root(i)).c_str());
        }
        std::fprintf(stderr, "  output  %s\n  queue   %s\n  Ctrl-C stops\n",
                     PathText(roots.output()).c_str(),
                     PathText(state / "serve-queue.json").c_str());
    }
    if (in.open && !OpenInBrowser(access.Url())) {
        std::fprintf(stderr, "norv serve: cannot open a browser; open the address yourself\n");
    }

    while (!InterruptRequested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ReapBrowser();
    }
    // A running job is cancelled (the engine removes what it wrote) and
    // queued again for the next start.
    board.Stop();
    runner.Join();
    pageApi.Stop();
    server.Stop();
    ReapBrowser();
    if (!in.json) {
        std::fprintf(stderr, "norv serve: stopped\n");
    }
    return 0;
}

} // namespace norv
