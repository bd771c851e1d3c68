// Who may use the page. Each start draws a random token, printed in the
// page's address; opening that address trades it for a session cookie
// (HttpOnly, SameSite=Strict), and every other request needs the cookie.
// The Host header must name an address the server listens on, so that a
// web site whose name was rebound to 127.0.0.1 cannot read the answers,
// and requests that change something must come from the page's own origin.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norv {

class Access {
public:
    /// hosts: the addresses listened on (IP literals); an unspecified one
    /// (0.0.0.0 or ::) stands for any IP literal.
    Access(const std::vector<std::string>& hosts, uint16_t port);

    const std::string& token() const { return token_; }
    /// The page's address with its token.
    std::string Url() const;

    /// Whether a Host header names this server: a loopback name or a
    /// listened address, with the port.
    bool HostAllowed(const std::string& host) const;
    /// Whether an Origin header is the page's own, given its allowed Host.
    static bool OriginAllowed(const std::string& origin, const std::string& host);

    /// Whether text is the token (compared in constant time).
    bool TokenMatches(const std::string& text) const;
    /// Whether a Cookie header carries the session cookie.
    bool HasSession(const std::string& cookieHeader) const;
    /// The Set-Cookie value that opens a session.
    std::string SessionCookie() const;

private:
    std::vector<std::string> hosts_; ///< "127.0.0.1:8700", "[::1]:8700", ...
    bool anyAddress_ = false;
    uint16_t port_;
    std::string urlHost_;
    std::string token_;
    std::string cookieName_;
    std::string session_;
};

/// A random value of 2 * bytes hex digits from the system's random source.
std::string RandomHex(size_t bytes);

} // namespace norv
