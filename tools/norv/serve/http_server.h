// The embedded HTTP server of norv serve, on Boost.Beast: it accepts
// connections on the addresses it is given, reads each request and hands it
// to one handler, which answers with a response, a file, or an open stream
// of Server-Sent Events. Beast and Asio stay inside http_server.cpp; the
// rest of norv serve sees these plain records.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace norv {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method; ///< "GET", "POST", ...
    std::string target; ///< as sent: path and query
    std::string path;   ///< the target up to '?', still percent-encoded
    std::string query;  ///< after '?', still percent-encoded
    std::string host;
    std::string origin;
    std::string cookie;
    std::string lastEventId;
    std::string body;
};

struct HttpResponse {
    unsigned status = 200;
    std::string contentType = "application/json";
    std::string body;
    HeaderList headers;
    /// When set, the body is this file, read from disk as it is sent.
    std::string file;
};

/// An open event stream. Write queues a chunk after the ones before it and
/// may be called from any thread; a client that stops reading while chunks
/// pile up is dropped.
class EventStream {
public:
    virtual ~EventStream() = default;
    virtual void Write(std::string chunk) = 0;
    virtual bool open() const = 0;
};

/// The answer to one request: exactly one call of Send or OpenStream, from
/// any thread.
class Responder {
public:
    virtual ~Responder() = default;
    virtual void Send(HttpResponse response) = 0;
    /// Answers 200 with an event stream that stays open until the client
    /// goes. The server writes a comment line every heartbeat period.
    virtual std::shared_ptr<EventStream> OpenStream(const HeaderList& headers) = 0;
};

/// Called on the server's thread for every request; slow work belongs on
/// another thread, which answers through the responder when it is done.
using HttpHandler = std::function<void(HttpRequest, std::shared_ptr<Responder>)>;

class HttpServer {
public:
    HttpServer(HttpHandler handler, double heartbeatSeconds);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Listens on every address (IPv4 or IPv6 literals) at port, or at a
    /// free port shared by all when port is 0. An address that cannot be
    /// had is skipped with a warning, except the first. Returns the port.
    /// Throws Failure.
    uint16_t Listen(const std::vector<std::string>& addresses, uint16_t port);

    /// Serves on a thread of its own until Stop.
    void Start();
    /// Closes the listeners and every connection, and joins the thread.
    void Stop();

public:
    struct Impl; ///< also seen by the connections

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace norv
