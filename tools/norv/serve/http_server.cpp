#include "serve/http_server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "common/library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#endif

namespace norv {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

// A client has this long to send a request once it connected or its last
// answer went out.
constexpr std::chrono::seconds kReadTimeout(30);
constexpr size_t kHeaderLimit = 16 * 1024;
constexpr size_t kBodyLimit = 1024 * 1024;
// Bytes an event stream may hold back for a client that does not read.
constexpr size_t kStreamBacklog = 8 * 1024 * 1024;
constexpr size_t kMostConnections = 128;

// The engines the library starts must not inherit the server's sockets: a
// connection would stay open while an engine runs, a listener after norv
// serve ended.
template <class Socket> void KeepFromChildren(Socket& socket) {
#if defined(_WIN32)
    const SOCKET handle = socket.native_handle();
    SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
#else
    ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
#endif
}

std::string Field(const http::request<http::string_body>& request, beast::string_view name) {
    const auto found = request.find(name);
    return found == request.end() ? std::string() : std::string(found->value());
}

} // namespace

struct HttpServer::Impl {
    Impl(HttpHandler h, double heartbeatSeconds)
        : handler(std::move(h)),
          heartbeat(std::chrono::milliseconds(static_cast<long long>(heartbeatSeconds * 1000))) {}

    void Accept(tcp::acceptor& acceptor);

    // Declared before the I/O context: the connections it still holds when
    // it is destroyed use them.
    HttpHandler handler;
    std::chrono::milliseconds heartbeat;
    std::atomic<size_t> connections{0};
    net::io_context io{1};
    std::vector<std::unique_ptr<tcp::acceptor>> acceptors;
    std::thread thread;
};

namespace {

class Connection : public std::enable_shared_from_this<Connection>,
                   public Responder,
                   public EventStream {
public:
    Connection(tcp::socket socket, HttpServer::Impl& server)
        : server_(server), stream_(std::move(socket)), timer_(stream_.get_executor()) {
        ++server_.connections;
    }
    ~Connection() override { --server_.connections; }

    void Start() { Read(); }

    void Send(HttpResponse response) override {
        net::post(stream_.get_executor(),
                  [self = shared_from_this(), response = std::move(response)]() mutable {
                      self->Reply(std::move(response));
                  });
    }

    std::shared_ptr<EventStream> OpenStream(const HeaderList& headers) override {
        http::response<http::empty_body> head{http::status::ok, version_};
        head.set(http::field::content_type, "text/event-stream");
        head.set(http::field::cache_control, "no-store");
        for (const auto& header : headers) {
            head.set(header.first, header.second);
        }
        // The stream ends when the connection does.
        head.keep_alive(false);
        std::ostringstream text;
        text << head.base();
        {
            std::lock_guard<std::mutex> hold(outLock_);
            pending_.push_back(text.str());
        }
        net::post(stream_.get_executor(), [self = shared_from_this()] { self->BeginStream(); });
        return shared_from_this();
    }

    void Write(std::string chunk) override {
        {
            std::lock_guard<std::mutex> hold(outLock_);
            if (closed_) {
                return;
            }
            backlog_ += chunk.size();
            pending_.push_back(std::move(chunk));
        }
        net::post(stream_.get_executor(), [self = shared_from_this()] { self->Flush(); });
    }

    bool open() const override {
        std::lock_guard<std::mutex> hold(outLock_);
        return !closed_;
    }

private:
    void Read() {
        parser_.emplace();
        parser_->header_limit(kHeaderLimit);
        parser_->body_limit(kBodyLimit);
        stream_.expires_after(kReadTimeout);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code error, size_t) { self->OnRead(error); });
    }

    void OnRead(beast::error_code error) {
        if (error) {
            Shut();
            return;
        }
        http::request<http::string_body> request = parser_->release();
        version_ = request.version();
        keepAlive_ = request.keep_alive();
        HttpRequest r;
        r.method = std::string(request.method_string());
        r.target = std::string(request.target());
        const size_t question = r.target.find('?');
        r.path = r.target.substr(0, question);
        r.query = question == std::string::npos ? std::string() : r.target.substr(question + 1);
        // A request naming its host twice could pass one check and mean the
        // other.
        if (request.count(http::field::host) != 1) {
            HttpResponse refused;
            refused.status = 400;
            refused.contentType = "text/plain; charset=utf-8";
            refused.body = "one Host header, please\n";
            Reply(std::move(refused));
            return;
        }
        r.host = Field(request, "Host");
        r.origin = Field(request, "Origin");
        r.cookie = Field(request, "Cookie");
        r.lastEventId = Field(request, "Last-Event-ID");
        r.body = std::move(request.body());
        try {
            server_.handler(std::move(r), shared_from_this());
        } catch (const std::exception& e) {
            HttpResponse failed;
            failed.status = 500;
            failed.contentType = "text/plain; charset=utf-8";
            failed.body = std::string(e.what()) + "\n";
            Reply(std::move(failed));
        }
    }

    template <class Body> void Fill(http::response<Body>& response, HttpResponse& r) {
        response.set(http::field::server, "norv");
        response.set(http::field::content_type, r.contentType);
        for (const auto& header : r.headers) {
            response.insert(header.first, header.second);
        }
        response.keep_alive(keepAlive_);
    }

    void Reply(HttpResponse r) {
        if (!r.file.empty()) {
            http::file_body::value_type body;
            beast::error_code error;
            body.open(r.file.c_str(), beast::file_mode::scan, error);
            if (!error) {
                auto response =
                    std::make_shared<http::response<http::file_body>>(http::status::ok, version_);
                Fill(*response, r);
                response->body() = std::move(body);
                response->prepare_payload();
                // A large file may take longer than a request is given.
                stream_.expires_never();
                http::async_write(
                    stream_, *response,
                    [self = shared_from_this(), response](beast::error_code e, size_t) {
                        self->AfterReply(e, response->need_eof());
                    });
                return;
            }
            r = HttpResponse();
            r.status = 404;
            r.contentType = "text/plain; charset=utf-8";
            r.body = "the file is gone\n";
        }
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(r.status), version_);
        Fill(*response, r);
        response->body() = std::move(r.body);
        response->prepare_payload();
        stream_.expires_after(kReadTimeout);
        http::async_write(stream_, *response,
                          [self = shared_from_this(), response](beast::error_code e, size_t) {
                              self->AfterReply(e, response->need_eof());
                          });
    }

    void AfterReply(beast::error_code error, bool close) {
        if (error || close) {
            Shut();
            return;
        }
        Read();
    }

    void BeginStream() {
        stream_.expires_never();
        Heartbeat();
        // A client that goes away ends the read; anything it sends is ignored.
        WatchClose();
        Flush();
    }

    void WatchClose() {
        stream_.async_read_some(net::buffer(scratch_),
                                [self = shared_from_this()](beast::error_code error, size_t) {
                                    if (error) {
                                        self->CloseStream();
                                    } else {
                                        self->WatchClose();
                                    }
                                });
    }

    void Heartbeat() {
        timer_.expires_after(server_.heartbeat);
        timer_.async_wait([self = shared_from_this()](beast::error_code error) {
            if (!error && self->open()) {
                self->Write(": heartbeat\n\n");
                self->Heartbeat();
            }
        });
    }

    // Writes the next queued chunk unless a write is under way.
    void Flush() {
        {
            std::lock_guard<std::mutex> hold(outLock_);
            if (writing_ || closed_ || pending_.empty()) {
                return;
            }
            if (backlog_ <= kStreamBacklog) {
                writing_ = true;
                current_ = std::move(pending_.front());
                pending_.pop_front();
            }
        }
        if (current_.empty()) {
            CloseStream(); // the client stopped reading
            return;
        }
        net::async_write(stream_, net::buffer(current_),
                         [self = shared_from_this()](beast::error_code error, size_t written) {
                             self->current_.clear();
                             {
                                 std::lock_guard<std::mutex> hold(self->outLock_);
                                 self->writing_ = false;
                                 self->backlog_ -= std::min(self->backlog_, written);
                             }
                             if (error) {
                                 self->CloseStream();
                             } else {
                                 self->Flush();
                             }
                         });
    }

    void CloseStream() {
        {
            std::lock_guard<std::mutex> hold(outLock_);
            closed_ = true;
            pending_.clear();
        }
        timer_.cancel();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

    void Shut() {
        {
            std::lock_guard<std::mutex> hold(outLock_);
            closed_ = true;
        }
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    HttpServer::Impl& server_;
    beast::tcp_stream stream_;
    net::steady_timer timer_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    unsigned version_ = 11;
    bool keepAlive_ = true;
    std::array<char, 512> scratch_{};

    mutable std::mutex outLock_;
    std::deque<std::string> pending_;
    std::string current_; // the chunk being written; only the I/O thread touches it
    size_t backlog_ = 0;
    bool writing_ = false;
    bool closed_ = false;
};

} // namespace

void HttpServer::Impl::Accept(tcp::acceptor& acceptor) {
    acceptor.async_accept([this, &acceptor](beast::error_code error, tcp::socket socket) {
        if (error == net::error::operation_aborted) {
            return;
        }
        if (!error) {
            KeepFromChildren(socket);
            if (connections.load() >= kMostConnections) {
                beast::error_code ignored;
                socket.close(ignored);
            } else {
                std::make_shared<Connection>(std::move(socket), *this)->Start();
            }
        }
        Accept(acceptor);
    });
}

HttpServer::HttpServer(HttpHandler handler, double heartbeatSeconds)
    : impl_(std::make_unique<Impl>(std::move(handler), heartbeatSeconds)) {}

HttpServer::~HttpServer() {
    Stop();
}

uint16_t HttpServer::Listen(const std::vector<std::string>& addresses, uint16_t port) {
    for (size_t i = 0; i < addresses.size(); ++i) {
        beast::error_code error;
        const net::ip::address ip = net::ip::make_address(addresses[i], error);
        if (error) {
            throw Failure(addresses[i] + ": not an IP address", nvt::InvalidArgument);
        }
        const tcp::endpoint endpoint(ip, port);
        auto acceptor = std::make_unique<tcp::acceptor>(impl_->io);
        acceptor->open(endpoint.protocol(), error);
        if (!error) {
            KeepFromChildren(*acceptor);
        }
        if (!error && ip.is_v6()) {
            acceptor->set_option(net::ip::v6_only(true), error);
        }
#if !defined(_WIN32)
        // On Windows this option would let another program take the port.
        if (!error) {
            acceptor->set_option(net::socket_base::reuse_address(true), error);
        }
#endif
        if (!error) {
            acceptor->bind(endpoint, error);
        }
        if (!error) {
            acceptor->listen(net::socket_base::max_listen_connections, error);
        }
        if (error) {
            const std::string what =
                "cannot listen on " + addresses[i] + " port " + std::to_string(port);
            if (i == 0) {
                throw Failure(what + ": " + error.message(), nvt::ENG_ERR);
            }
            std::fprintf(stderr, "norv serve: %s: %s\n", what.c_str(), error.message().c_str());
            continue;
        }
        if (port == 0) {
            port = acceptor->local_endpoint().port();
        }
        impl_->acceptors.push_back(std::move(acceptor));
    }
    return port;
}

void HttpServer::Start() {
    for (const auto& acceptor : impl_->acceptors) {
        impl_->Accept(*acceptor);
    }
    impl_->thread = std::thread([impl = impl_.get()] {
        for (;;) {
            try {
                impl->io.run();
                return;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "norv serve: %s\n", e.what());
            }
        }
    });
}

void HttpServer::Stop() {
    if (!impl_) {
        return;
    }
    impl_->io.stop();
    if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
}

} // namespace norv
