#include "serve/access.h"

#include <boost/algorithm/string/case_conv.hpp>

#include <algorithm>
#include <cctype>
#include <locale>
#include <random>

namespace norv {

namespace {

std::string Lower(const std::string& text) {
    return boost::algorithm::to_lower_copy(text, std::locale::classic());
}

bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) {
        return false;
    }
    unsigned char differ = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return differ == 0;
}

bool IsIpv6(const std::string& address) {
    return address.find(':') != std::string::npos;
}

// "1.2.3.4" with four numbers of at most three digits.
bool IsIpv4Literal(const std::string& text) {
    int parts = 0;
    size_t digits = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0) {
                return false;
            }
            ++parts;
            digits = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c)) && ++digits <= 3) {
            continue;
        } else {
            return false;
        }
    }
    return parts == 3 && digits > 0;
}

std::string HostPort(const std::string& address, uint16_t port) {
    return (IsIpv6(address) ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

} // namespace

std::string RandomHex(size_t bytes) {
    std::random_device device;
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    while (text.size() < 2 * bytes) {
        uint32_t word = device();
        for (int i = 0; i < 8 && text.size() < 2 * bytes; ++i, word >>= 4) {
            text += kDigits[word & 15];
        }
    }
    return text;
}

Access::Access(const std::vector<std::string>& hosts, uint16_t port)
    : port_(port), token_(RandomHex(24)), cookieName_("norv_" + std::to_string(port)),
      session_(RandomHex(32)) {
    for (const std::string& host : hosts) {
        if (host == "0.0.0.0" || host == "::") {
            anyAddress_ = true;
        } else {
            hosts_.push_back(Lower(HostPort(host, port)));
        }
    }
    // The loopback names a user may type or a browser may show.
    for (const char* name : {"127.0.0.1", "localhost", "::1"}) {
        const std::string host = Lower(HostPort(name, port));
        if (std::find(hosts_.begin(), hosts_.end(), host) == hosts_.end()) {
            hosts_.push_back(host);
        }
    }
    urlHost_ =
        hosts.empty() || anyAddress_ ? HostPort("127.0.0.1", port) : HostPort(hosts[0], port);
}

std::string Access::Url() const {
    return "http://" + urlHost_ + "/?token=" + token_;
}

bool Access::HostAllowed(const std::string& host) const {
    std::string wanted = Lower(host);
    // A browser leaves out port 80.
    if (port_ == 80 && wanted.find("]:") == std::string::npos &&
        (wanted.find(':') == std::string::npos || wanted.front() == '[')) {
        wanted += ":80";
    }
    if (std::find(hosts_.begin(), hosts_.end(), wanted) != hosts_.end()) {
        return true;
    }
    if (!anyAddress_) {
        return false;
    }
    // Listening on every address: any address literal will do, no name (a
    // name is what a rebinding attack brings).
    const std::string suffix = ":" + std::to_string(port_);
    if (wanted.size() <= suffix.size() ||
        wanted.compare(wanted.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    const std::string address = wanted.substr(0, wanted.size() - suffix.size());
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
        const std::string inner = address.substr(1, address.size() - 2);
        return inner.find_first_not_of("0123456789abcdef:.") == std::string::npos;
    }
    return IsIpv4Literal(address);
}

bool Access::OriginAllowed(const std::string& origin, const std::string& host) {
    return !host.empty() && Lower(origin) == "http://" + Lower(host);
}

bool Access::TokenMatches(const std::string& text) const {
    return SameSecret(text, token_);
}

bool Access::HasSession(const std::string& cookieHeader) const {
    // "a=1; norv_8700=...; b=2"
    size_t start = 0;
    while (start < cookieHeader.size()) {
        size_t end = cookieHeader.find(';', start);
        if (end == std::string::npos) {
            end = cookieHeader.size();
        }
        std::string pair = cookieHeader.substr(start, end - start);
        pair.erase(0, pair.find_first_not_of(' '));
        const size_t equals = pair.find('=');
        if (equals != std::string::npos && pair.substr(0, equals) == cookieName_ &&
            SameSecret(pair.substr(equals + 1), session_)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string Access::SessionCookie() const {
    return cookieName_ + "=" + session_ + "; Path=/; HttpOnly; SameSite=Strict";
}

} // namespace norv
