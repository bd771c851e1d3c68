#include "serve/page_api.h"

#include <cctype>

#include "common/settings.h"
#include "common/transcode_run.h"
#include "serve/choice.h"
#include "serve/page_assets.h"
#include "serve/planned_output.h"
#include "timing/preview.h"

namespace norv {

namespace {

// Analyses start engines: two at a time is plenty for a page.
constexpr size_t kWorkers = 2;
// The longest token a page may name its preview's probe by.
constexpr size_t kProbeTokenLength = 64;

/// A request the API refuses, with the status to answer.
struct ApiError {
    unsigned status;
    std::string what;
};

// A preview's probe under the name the page gave it, from the preview's
// start to its end; a name already under way is refused.
class NamedPreview {
public:
    NamedPreview(std::mutex& lock, std::map<std::string, bool>& names, std::string token)
        : lock_(lock), names_(names), token_(std::move(token)) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!token_.empty() && !names_.emplace(token_, false).second) {
            token_.clear();
            throw ApiError{409, "probe: a preview under that name is under way"};
        }
    }
    ~NamedPreview() {
        std::lock_guard<std::mutex> hold(lock_);
        if (!token_.empty()) {
            names_.erase(token_);
        }
    }
    NamedPreview(const NamedPreview&) = delete;
    NamedPreview& operator=(const NamedPreview&) = delete;

private:
    std::mutex& lock_;
    std::map<std::string, bool>& names_;
    std::string token_;
};

const HeaderList& SafetyHeaders() {
    static const HeaderList kHeaders = {
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
        {"Cross-Origin-Opener-Policy", "same-origin"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
         "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"}};
    return kHeaders;
}

HttpResponse JsonResponse(unsigned status, const Json& value) {
    HttpResponse response;
    response.status = status;
    response.body = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    return response;
}

HttpResponse ErrorResponse(unsigned status, const std::string& what,
                           nvt::Result result = nvt::SUCCESS) {
    Json body{{"error", what}};
    if (result != nvt::SUCCESS) {
        body["result"] = nvt::EnumName<nvt::Result>(result);
        body["code"] = static_cast<int>(result);
    }
    return JsonResponse(status, body);
}

void Answer(const std::shared_ptr<Responder>& responder, HttpResponse response) {
    const HeaderList& safety = SafetyHeaders();
    response.headers.insert(response.headers.end(), safety.begin(), safety.end());
    responder->Send(std::move(response));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The value of key in a query ("a=1&b=x%2Fy"), percent-decoded; a '+'
// stands for a space, as forms encode it.
std::string QueryValue(const std::string& query, const std::string& key) {
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos) {
            end = query.size();
        }
        const std::string pair = query.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (pair.substr(0, equals) == key) {
            const std::string raw = equals == std::string::npos ? "" : pair.substr(equals + 1);
            std::string value;
            for (size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '+') {
                    value += ' ';
                } else if (raw[i] == '%') {
                    const int high = i + 2 < raw.size() ? HexDigit(raw[i + 1]) : -1;
                    const int low = i + 2 < raw.size() ? HexDigit(raw[i + 2]) : -1;
                    if (high < 0 || low < 0) {
                        throw ApiError{400, "a bad escape in the query"};
                    }
                    value += static_cast<char>(high * 16 + low);
                    i += 2;
                } else {
                    value += raw[i];
                }
            }
            return value;
        }
        start = end + 1;
    }
    return std::string();
}

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

Json ParseBody(const std::string& body) {
    Json value = Json::parse(body, nullptr, false);
    if (value.is_discarded() || !value.is_object()) {
        throw ApiError{400, "the body is not a JSON object"};
    }
    return value;
}

// For Content-Disposition: the name as RFC 5987 writes it.
std::string EncodedName(const std::string& name) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
            text += static_cast<char>(c);
        } else {
            text += '%';
            text += kDigits[c >> 4];
            text += kDigits[c & 15];
        }
    }
    return text;
}

} // namespace

PageApi::PageApi(const Access& access, Roots& roots, Catalog& catalog, JobBoard& board,
                 const ServeContext& context)
    : access_(access), roots_(roots), catalog_(catalog), board_(board), context_(context),
      profiles_(Json::array()), pool_(kWorkers) {
    std::vector<bool> supported;
    if (context_.info) {
        context_.info->GetSupportedProfiles(supported);
    }
    for (int32_t p = 0; p < nvt::_NP_count_; ++p) {
        Json profile = ProfileJson(static_cast<nvt::NorvProfile>(p), context_.info.get(), 0.0);
        profile["supported"] =
            p < static_cast<int32_t>(supported.size()) && supported[static_cast<size_t>(p)];
        profiles_.push_back(profile);
    }
}

void PageApi::Handle(HttpRequest request, std::shared_ptr<Responder> responder) {
    // Against DNS rebinding: a page of another site whose name was made to
    // point here still sends its own name.
    if (!access_.HostAllowed(request.host)) {
        Answer(responder, ErrorResponse(403, "this server answers to its own address only"));
        return;
    }
    const bool tokenRequest = request.method == "GET" && request.path == "/" &&
                              request.query.compare(0, 6, "token=") == 0;
    if (tokenRequest) {
        if (!access_.TokenMatches(QueryValue(request.query, "token"))) {
            Answer(responder, ErrorResponse(401, "not the token of this start"));
            return;
        }
        HttpResponse response;
        response.status = 303;
        response.contentType = "text/plain; charset=utf-8";
        response.headers = {{"Location", "/"}, {"Set-Cookie", access_.SessionCookie()}};
        Answer(responder, std::move(response));
        return;
    }
    if (!access_.HasSession(request.cookie)) {
        HttpResponse response = ErrorResponse(
            401, "open the address norv serve printed when it started (it holds the token)");
        if (request.path == "/") {
            response.contentType = "text/plain; charset=utf-8";
            response.body = "Open the address norv serve printed when it started: it holds the "
                            "token that lets this browser in.\n";
        }
        Answer(responder, std::move(response));
        return;
    }
    try {
        if (request.method == "GET") {
            Get(request, responder);
        } else if (request.method == "POST") {
            // Against cross-site requests: only the page itself changes things.
            if (!Access::OriginAllowed(request.origin, request.host)) {
                Answer(responder, ErrorResponse(403, "changes come from the page's own origin"));
                return;
            }
            Post(request, responder);
        } else {
            Answer(responder, ErrorResponse(405, "GET or POST"));
        }
    } catch (const ApiError& error) {
        Answer(responder, ErrorResponse(error.status, error.what));
    } catch (const Failure& failure) {
        Answer(responder, ErrorResponse(400, failure.what(), failure.result()));
    }
}

void PageApi::Later(const std::shared_ptr<Responder>& responder,
                    std::function<HttpResponse()> work) {
    const bool queued = pool_.Post([responder, work = std::move(work)] {
        try {
            Answer(responder, work());
        } catch (const ApiError& error) {
            Answer(responder, ErrorResponse(error.status, error.what));
        } catch (const Failure& failure) {
            Answer(responder, ErrorResponse(400, failure.what(), failure.result()));
        } catch (const std::exception& e) {
            Answer(responder, ErrorResponse(500, e.what()));
        }
    });
    if (!queued) {
        Answer(responder, ErrorResponse(503, "norv serve is stopping"));
    }
}

void PageApi::Get(const HttpRequest& request, const std::shared_ptr<Responder>& responder) {
    if (const PageAsset* asset = FindPageAsset(request.path)) {
        HttpResponse response;
        response.contentType = asset->type;
        response.body.assign(reinterpret_cast<const char*>(asset->data), asset->size);
        Answer(responder, std::move(response));
        return;
    }
    const std::vector<std::string> parts = Split(request.path);
    if (parts.size() < 2 || parts[0] != "api") {
        throw ApiError{404, "no such page"};
    }
    if (parts.size() == 2 && parts[1] == "state") {
        Answer(responder, JsonResponse(200, State()));
    } else if (parts.size() == 2 && parts[1] == "browse") {
        Answer(responder, JsonResponse(200, Browse(request.query)));
    } else if (parts.size() == 2 && parts[1] == "events") {
        HeaderList headers = SafetyHeaders();
        board_.Attach(responder->OpenStream(headers), request.lastEventId);
    } else if (parts.size() == 4 && parts[1] == "files" &&
               (parts[3] == "analysis" || parts[3] == "thumbnail")) {
        const std::string id = parts[2];
        const bool thumbnail = parts[3] == "thumbnail";
        Later(responder, [this, id, thumbnail] { return Analysis(id, thumbnail); });
    } else if (parts.size() == 4 && parts[1] == "jobs" && parts[3] == "output") {
        Answer(responder, Download(parts[2]));
    } else {
        throw ApiError{404, "no such page"};
    }
}

void PageApi::Post(const HttpRequest& request, const std::shared_ptr<Responder>& responder) {
    const std::vector<std::string> parts = Split(request.path);
    const Json body = request.body.empty() ? Json::object() : ParseBody(request.body);
    if (parts.size() == 2 && parts[0] == "api" && parts[1] == "preview") {
        Later(responder, [this, body] { return JsonResponse(200, Preview(body)); });
    } else if (parts.size() == 3 && parts[0] == "api" && parts[1] == "preview" &&
               parts[2] == "stop") {
        const Json probe = body.value("probe", Json());
        if (!probe.is_string()) {
            throw ApiError{400, "probe: expected a text"};
        }
        Answer(responder,
               JsonResponse(200, Json{{"stopped", StopPreview(probe.get<std::string>())}}));
    } else if (parts.size() == 2 && parts[0] == "api" && parts[1] == "jobs") {
        Later(responder, [this, body] { return JsonResponse(200, AddJobs(body)); });
    } else if (parts.size() == 4 && parts[0] == "api" && parts[1] == "jobs") {
        Answer(responder, JobCommand(parts[2], parts[3], body));
    } else if (parts.size() == 3 && parts[0] == "api" && parts[1] == "queue") {
        if (parts[2] == "start" || parts[2] == "pause") {
            board_.SetRunning(parts[2] == "start");
            Answer(responder, JsonResponse(200, Json{{"running", parts[2] == "start"}}));
        } else if (parts[2] == "clear") {
            Answer(responder, JsonResponse(200, Json{{"removed", board_.ClearFinished()}}));
        } else {
            throw ApiError{404, "no such command"};
        }
    } else {
        throw ApiError{404, "no such page"};
    }
}

Json PageApi::State() {
    Json roots = Json::array();
    for (size_t i = 0; i < roots_.count(); ++i) {
        roots.push_back(Json{{"index", i},
                             {"name", PathText(roots_.root(i).filename())},
                             {"path", PathText(roots_.root(i))}});
    }
    return Json{{"version", NORV_VERSION},
                {"roots", roots},
                {"output", PathText(roots_.output())},
                {"profiles", profiles_},
                {"priorities", SettingPriorityNames()},
                {"presets", PresetList(context_.presetDir)},
                {"queue", board_.Snapshot()}};
}

Json PageApi::Browse(const std::string& query) {
    const std::string rootText = QueryValue(query, "root");
    if (rootText.empty() || rootText.size() > 4 ||
        rootText.find_first_not_of("0123456789") != std::string::npos) {
        throw ApiError{400, "root: expected a number"};
    }
    PathRefusal refusal;
    Json listing = roots_.List(std::stoul(rootText), QueryValue(query, "path"), refusal);
    if (listing.is_null()) {
        throw ApiError{refusal.status, refusal.why};
    }
    return listing;
}

HttpResponse PageApi::Analysis(const std::string& id, bool thumbnail) {
    const std::optional<fs::path> file = roots_.FileOf(id);
    if (!file) {
        throw ApiError{404, "no such file"};
    }
    const std::shared_ptr<const FileAnalysis> analysis = catalog_.Analyse(PathText(*file));
    if (thumbnail) {
        if (analysis->thumbnail.empty()) {
            throw ApiError{404, "no thumbnail"};
        }
        HttpResponse response;
        response.contentType = "image/jpeg";
        response.body = analysis->thumbnail;
        return response;
    }
    Json j{{"id", id}, {"name", roots_.DisplayName(*file)}};
    if (analysis->result != nvt::SUCCESS) {
        j["result"] = nvt::EnumName<nvt::Result>(analysis->result);
        j["code"] = static_cast<int>(analysis->result);
        j["error"] = analysis->error;
        return JsonResponse(422, j);
    }
    j["sources"] = analysis->json;
    j["thumbnail"] = analysis->thumbnail.empty() ? Json()
                                                 : Json{{"width", analysis->thumbnailWidth},
                                                        {"height", analysis->thumbnailHeight}};
    return JsonResponse(200, j);
}

std::vector<std::string> PageApi::PathsOf(const Json& ids) {
    if (!ids.is_array() || ids.empty()) {
        throw ApiError{400, "files: expected a list of file identifiers"};
    }
    std::vector<std::string> paths;
    for (const Json& id : ids) {
        const std::optional<fs::path> file =
            id.is_string() ? roots_.FileOf(id.get<std::string>()) : std::nullopt;
        if (!file) {
            throw ApiError{404, "no such file: " + id.dump()};
        }
        paths.push_back(PathText(*file));
    }
    return paths;
}

Sources PageApi::SourcesOf(const std::vector<std::string>& paths) {
    Sources sources;
    for (const std::string& path : paths) {
        const std::shared_ptr<const FileAnalysis> analysis = catalog_.Analyse(path);
        if (analysis->result != nvt::SUCCESS) {
            throw Failure(roots_.DisplayName(TextPath(path)) + ": " + analysis->error,
                          analysis->result);
        }
        sources.insert(sources.end(), analysis->sources.begin(), analysis->sources.end());
    }
    return sources;
}

Json PageApi::Preview(const Json& body) {
    const std::vector<std::string> paths = PathsOf(body.value("files", Json()));
    const Json settings = body.value("settings", Json::object());
    const OutputChoice choice = ChoiceFromJson(settings, context_.presetDir);
    const std::optional<QualityTarget> target = QualityFromJson(settings);
    ProbeListener listener;
    StopCheck stopWanted;
    std::string token; // the page's name for the probe
    const Json probe = body.value("probe", Json());
    if (!probe.is_null()) {
        token = probe.is_string() ? probe.get<std::string>() : std::string();
        if (token.empty() || token.size() > kProbeTokenLength) {
            throw ApiError{400, "probe: expected a short text"};
        }
        listener = [this, token](int percent, const std::string& step) {
            board_.PreviewProbing(token, percent, step);
        };
        stopWanted = [this, token] {
            std::lock_guard<std::mutex> hold(previewsLock_);
            const auto found = previews_.find(token);
            return found != previews_.end() && found->second;
        };
    }
    const NamedPreview named(previewsLock_, previews_, token);
    const Sources sources = SourcesOf(paths);
    const OutputPreview preview =
        PlanOutput(sources, choice, target, context_, roots_.DisplayName(TextPath(paths.front())),
                   listener, stopWanted)
            .preview;
    const auto profile = static_cast<nvt::NorvProfile>(preview.settings->GetProfile());
    Json j = preview.json;
    j["extension"] = OutputExtension(profile, context_.info.get());
    j["duration_ms"] = TotalDurationMs(sources);
    return j;
}

bool PageApi::StopPreview(const std::string& token) {
    std::lock_guard<std::mutex> hold(previewsLock_);
    const auto found = previews_.find(token);
    if (found == previews_.end()) {
        return false;
    }
    found->second = true;
    return true;
}

Json PageApi::AddJobs(const Json& body) {
    const std::vector<std::string> paths = PathsOf(body.value("files", Json()));
    const Json settingsJson = body.value("settings", Json::object());
    const OutputChoice choice = ChoiceFromJson(settingsJson, context_.presetDir);
    // The target's bitrate is chosen when the job runs: its probe takes a while.
    const bool target = QualityFromJson(settingsJson).has_value();
    const auto joinMember = body.find("join");
    const bool join =
        joinMember != body.end() && joinMember->is_boolean() && joinMember->get<bool>();
    std::vector<std::vector<std::string>> groups;
    if (join) {
        groups.push_back(paths);
    } else {
        for (const std::string& path : paths) {
            groups.push_back({path});
        }
    }
    std::vector<std::string> reserved = board_.ReservedOutputs();
    std::vector<Job> jobs;
    for (const std::vector<std::string>& inputs : groups) {
        // Each job is checked as it would run: its tracks, the join.
        const OutputPreview preview = PreviewOutput(SourcesOf(inputs), choice, context_.info.get());
        const auto profile = static_cast<nvt::NorvProfile>(preview.settings->GetProfile());
        Job job;
        job.inputs = inputs;
        job.settings = settingsJson;
        job.predictedSize = target ? 0 : preview.json.at("estimated_size").get<uint64_t>();
        job.output = FreeOutputPath(roots_.output(), PathText(TextPath(inputs.front()).stem()),
                                    OutputExtension(profile, context_.info.get()), reserved);
        reserved.push_back(job.output);
        jobs.push_back(std::move(job));
    }
    return Json{{"jobs", board_.Add(std::move(jobs))}};
}

HttpResponse PageApi::JobCommand(const std::string& id, const std::string& command,
                                 const Json& body) {
    if (command == "cancel") {
        if (!board_.Cancel(id)) {
            throw ApiError{404, "no such job"};
        }
    } else if (command == "remove") {
        switch (board_.Remove(id)) {
        case JobBoard::Removal::Missing:
            throw ApiError{404, "no such job"};
        case JobBoard::Removal::Running:
            throw ApiError{409, "the job is running: cancel it first"};
        case JobBoard::Removal::Removed:
            break;
        }
    } else if (command == "move") {
        const auto to = body.find("to");
        if (to == body.end() || !to->is_number_unsigned()) {
            throw ApiError{400, "to: expected a place in the queue"};
        }
        if (!board_.Move(id, to->get<size_t>())) {
            throw ApiError{404, "no such job"};
        }
    } else {
        throw ApiError{404, "no such command"};
    }
    return JsonResponse(200, Json{{"ok", true}});
}

HttpResponse PageApi::Download(const std::string& id) {
    const std::string output = board_.DoneOutput(id);
    if (output.empty()) {
        throw ApiError{404, "no finished output for this job"};
    }
    // Only ever a file of the output folder, as it is now.
    std::error_code error;
    const fs::path real = fs::canonical(TextPath(output), error);
    if (error || !Roots::Within(roots_.output(), real) || !fs::is_regular_file(real, error)) {
        throw ApiError{404, "the output is gone"};
    }
    const std::string name = PathText(real.filename());
    HttpResponse response;
    response.contentType = "application/octet-stream";
    response.file = PathText(real);
    response.headers = {
        {"Content-Disposition", "attachment; filename*=UTF-8''" + EncodedName(name)}};
    return response;
}

} // namespace norv
