// What the page asks of norv serve: its own files, and a small JSON API over
// the roots, the analyses, the preview and the queue, with one event stream.
// Every request passes the access checks first (Host, session cookie,
// Origin for anything that changes state).
//
//   GET  /?token=T                 trades the start's token for the cookie
//   GET  /, /app.js, /app.css      the page
//   GET  /api/state                roots, output folder, profiles, presets, queue
//   GET  /api/browse?root=N&path=P a folder of a root
//   GET  /api/files/ID/analysis    what the engine found in a file
//   GET  /api/files/ID/thumbnail   its thumbnail (JPEG)
//   POST /api/preview              {files, settings, probe}: the output it would make
//                                  (under a quality target, once the title is probed;
//                                  the probe's progress goes out as "probe" events
//                                  that carry the token probe, when given)
//   POST /api/jobs                 {files, settings, join}: queues jobs
//   POST /api/jobs/ID/cancel | remove | move {to}
//   POST /api/queue/start | pause | clear
//   GET  /api/jobs/ID/output       a finished job's output, to download
//   GET  /api/events               the event stream (Server-Sent Events)
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "serve/access.h"
#include "serve/catalog.h"
#include "serve/http_server.h"
#include "serve/job_board.h"
#include "serve/job_runner.h"
#include "serve/roots.h"
#include "serve/work_pool.h"

namespace norv {

class PageApi {
public:
    PageApi(const Access& access, Roots& roots, Catalog& catalog, JobBoard& board,
            const ServeContext& context);

    /// The server's handler.
    void Handle(HttpRequest request, std::shared_ptr<Responder> responder);

    /// Ends the slow requests under way and refuses new ones.
    void Stop() { pool_.Stop(); }

private:
    void Get(const HttpRequest& request, const std::shared_ptr<Responder>& responder);
    void Post(const HttpRequest& request, const std::shared_ptr<Responder>& responder);
    /// Runs work on the pool and answers with what it returns (or the error
    /// it throws).
    void Later(const std::shared_ptr<Responder>& responder, std::function<HttpResponse()> work);

    Json State();
    Json Browse(const std::string& query);
    HttpResponse Analysis(const std::string& id, bool thumbnail);
    Json Preview(const Json& body);
    /// Asks the preview whose probe the page named token to stop; false
    /// when no such preview is under way.
    bool StopPreview(const std::string& token);
    Json AddJobs(const Json& body);
    HttpResponse JobCommand(const std::string& id, const std::string& command, const Json& body);
    HttpResponse Download(const std::string& id);
    Sources SourcesOf(const std::vector<std::string>& paths);
    std::vector<std::string> PathsOf(const Json& ids);

    const Access& access_;
    Roots& roots_;
    Catalog& catalog_;
    JobBoard& board_;
    const ServeContext& context_;
    Json profiles_;
    std::mutex previewsLock_;
    std::map<std::string, bool> previews_; ///< probing, by token: stop wanted
    WorkPool pool_;
};

} // namespace norv
