#include "ServeHttp.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>

namespace serve {
namespace {

using Clock = std::chrono::steady_clock;

// A connection's socket with deadlines: reads end at the request's deadline,
// each write waits at most the write limit.
class DeadlineStream : public httplib::Stream {
public:
    DeadlineStream(socket_t sock, Clock::time_point readDeadline, std::chrono::milliseconds writeLimit)
        : sock_(sock), readDeadline_(readDeadline), writeLimit_(writeLimit) {}

    bool is_readable() const override { return Wait(POLLIN, readDeadline_); }
    bool is_writable() const override { return Wait(POLLOUT, Clock::now() + writeLimit_); }

    ssize_t read(char* ptr, size_t size) override {
        if (!is_readable()) return -1;
        for (;;) {
            const ssize_t n = ::recv(sock_, ptr, size, 0);
            if (n >= 0 || errno != EINTR) return n;
        }
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        for (;;) {
            const ssize_t n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
            if (n >= 0 || errno != EINTR) return n;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Address(getsockname, ip, port); }
    socket_t socket() const override { return sock_; }

private:
    bool Wait(short events, Clock::time_point deadline) const {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd p{sock_, events, 0};
            const int n = ::poll(&p, 1, static_cast<int>(left));
            if (n < 0 && errno == EINTR) continue;
            return n > 0 && (p.revents & (events | POLLHUP | POLLERR)) != 0;
        }
    }

    template <class Query>
    void Address(Query query, std::string& ip, int& port) const {
        sockaddr_storage address{};
        socklen_t length = sizeof(address);
        ip.clear();
        port = 0;
        if (query(sock_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
        char text[INET6_ADDRSTRLEN] = "";
        if (address.ss_family == AF_INET) {
            const auto* a = reinterpret_cast<const sockaddr_in*>(&address);
            inet_ntop(AF_INET, &a->sin_addr, text, sizeof(text));
            port = ntohs(a->sin_port);
        } else if (address.ss_family == AF_INET6) {
            const auto* a = reinterpret_cast<const sockaddr_in6*>(&address);
            inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof(text));
            port = ntohs(a->sin6_port);
        }
        ip = text;
    }

    socket_t sock_;
    Clock::time_point readDeadline_;
    std::chrono::milliseconds writeLimit_;
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string NewToken() {
    std::random_device random;
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 32; ++i) token += kHex[random() % 16];
    return token;
}

// Compares in time that does not depend on where they differ.
bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::string BracketedIfIpv6(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

// ---- GuardedServer -----------------------------------------------------------------

GuardedServer::GuardedServer() {
    new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    set_payload_max_length(kMaxBody);
    set_keep_alive_max_count(1);
    // httplib's default also sets SO_REUSEPORT, with which a second server binds
    // the same port and the kernel splits the connections between the two.
    set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
}

GuardedServer::~GuardedServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
}

void GuardedServer::WatchIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!ending_) {
        wake_.wait_for(lock, std::chrono::milliseconds(50));
        if (open_.size() + 2 < static_cast<size_t>(kWorkers)) continue;
        const auto now = Clock::now();
        for (auto& [sock, connection] : open_) {
            if (!connection.reading || now - connection.since < kIdleGrace) continue;
            ::shutdown(sock, SHUT_RDWR);
            connection.reading = false;
        }
    }
}

int GuardedServer::Bind(const std::string& host, int port) {
    if (!watcher_.joinable()) watcher_ = std::thread([this] { WatchIdle(); });
    if (port == 0) return bind_to_any_port(host);
    return bind_to_port(host, port) ? port : -1;
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    if (Track(sock)) {
        DeadlineStream stream(sock, Clock::now() + kRequestReadLimit, kWriteLimit);
        bool closed = false;
        process_request(stream, true, closed, [this, &stream, sock](httplib::Request& request) {
            RequestRead(sock);
            stream.get_remote_ip_and_port(request.remote_addr, request.remote_port);
        });
        Untrack(sock);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return true;
}

bool GuardedServer::Track(socket_t sock) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cutting_) return false;
    open_[sock] = Connection{Clock::now(), true};
    return true;
}

void GuardedServer::RequestRead(socket_t sock) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = open_.find(sock); it != open_.end()) it->second.reading = false;
}

// Before the socket is closed, so that CutConnections never meets a number the
// system has handed out again.
void GuardedServer::Untrack(socket_t sock) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(sock);
}

void GuardedServer::CutConnections(int how) {
    std::lock_guard<std::mutex> lock(mutex_);
    cutting_ = true;
    for (const auto& entry : open_) ::shutdown(entry.first, how);
}

// ---- Gate -----------------------------------------------------------------------------

bool IsLoopback(const std::string& host) {
    const std::string h = Lower(host);
    if (h == "localhost" || h == "::1") return true;
    in_addr address{};
    return inet_pton(AF_INET, h.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

Gate::Gate(const std::string& listenHost, int port) : listenHost_(listenHost), port_(port) {
    if (!IsLoopback(listenHost)) token_ = NewToken();
}

std::string Gate::Address() const {
    std::string address = "http://" + BracketedIfIpv6(listenHost_) + ":" + std::to_string(port_) + "/";
    return token_.empty() ? address : address + "?token=" + token_;
}

bool Gate::HostAllowed(const std::string& host) const {
    const std::string port = ":" + std::to_string(port_);
    if (host.size() <= port.size() || host.compare(host.size() - port.size(), port.size(), port) != 0) return false;
    std::string name = Lower(host.substr(0, host.size() - port.size()));
    if (name == "localhost" || name == "127.0.0.1" || name == "[::1]") return true;
    return name == Lower(BracketedIfIpv6(listenHost_));
}

namespace {

// A header given more than once, or holding a control character, is no
// answer to "who is asking".
bool Ambiguous(const httplib::Request& request, const char* name) {
    if (request.get_header_value_count(name) > 1) return true;
    for (unsigned char c : request.get_header_value(name))
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

// What a browser says of where a request comes from: a page of another site
// (an <img> or a form there) is "cross-site" or "same-site". Only a top-level
// visit to the page itself may come from elsewhere, as a followed link does.
bool FromAnotherSite(const httplib::Request& request) {
    const std::string site = Lower(request.get_header_value("Sec-Fetch-Site"));
    if (site != "cross-site" && site != "same-site") return false;
    return !(request.path == "/" && Lower(request.get_header_value("Sec-Fetch-Mode")) == "navigate");
}

std::string MediaType(const std::string& contentType) {
    std::string type = Lower(contentType.substr(0, contentType.find(';')));
    while (!type.empty() && type.back() == ' ') type.pop_back();
    return type;
}

}  // namespace

std::pair<int, std::string> Gate::Check(const httplib::Request& request) const {
    for (const char* name : {"Host", "Origin", "Content-Type", "Content-Length", "X-Vorkgrab-Token", "Sec-Fetch-Site"})
        if (Ambiguous(request, name)) return {400, std::string("a malformed or repeated ") + name + " header"};
    const std::string host = request.get_header_value("Host");
    if (!token_.empty()) {
        const std::string given = request.has_header("X-Vorkgrab-Token") ? request.get_header_value("X-Vorkgrab-Token")
                                                                         : request.get_param_value("token");
        if (!SameSecret(given, token_)) return {403, "a token is needed: open the address the server printed"};
    } else if (!HostAllowed(host)) {
        return {403, "this server answers only requests to its own address (Host: " + host.substr(0, 100) + ")"};
    }
    if (FromAnotherSite(request)) return {403, "this server answers only its own page"};
    // Only a body whose length is known before it is read can be held to the limit.
    if (request.has_header("Transfer-Encoding")) return {411, "a body needs a Content-Length"};
    if (request.method == "GET" || request.method == "HEAD") return {0, ""};
    if (request.method != "POST") return {405, "only GET and POST"};
    if (request.has_header("Origin") && request.get_header_value("Origin") != "http://" + host)
        return {403, "a change may come only from this server's own page"};
    for (const auto& param : request.params)
        if (param.first != "token") return {400, "parameters go in a JSON body, not in the address"};
    if (MediaType(request.get_header_value("Content-Type")) != "application/json")
        return {415, "the body must be application/json"};
    // Without a length the library would read a body until the client hangs up.
    if (!request.has_header("Content-Length")) return {411, "a body needs a Content-Length"};
    return {0, ""};
}

// ---- JSON -------------------------------------------------------------------------------

namespace {

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    bool Object(std::map<std::string, std::string>& out, std::string& error) {
        Space();
        if (!Take('{')) return Fail(error, "not a JSON object");
        Space();
        if (Take('}')) return End(error);
        for (;;) {
            std::string key, value;
            Space();
            if (!String(key)) return Fail(error, "a key is not a string");
            Space();
            if (!Take(':')) return Fail(error, "no ':' after a key");
            Space();
            if (!Value(value)) return Fail(error, "the value of '" + key.substr(0, 40) + "' is not a string or number");
            if (!out.emplace(key, value).second) return Fail(error, "'" + key.substr(0, 40) + "' is given twice");
            Space();
            if (Take('}')) return End(error);
            if (!Take(',')) return Fail(error, "no ',' between values");
        }
    }

private:
    bool End(std::string& error) {
        Space();
        return at_ == text_.size() || Fail(error, "text after the object");
    }
    static bool Fail(std::string& error, const std::string& why) {
        error = why;
        return false;
    }
    void Space() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }
    bool Take(char c) {
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }
    bool String(std::string& out) {
        if (!Take('"')) return false;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) return false;
            const char e = text_[at_++];
            // \u escapes stand for characters no setting of ours holds.
            if (e == '"' || e == '\\' || e == '/') out += e;
            else return false;
        }
        return false;
    }
    bool Value(std::string& out) {
        if (at_ < text_.size() && text_[at_] == '"') return String(out);
        for (const char* word : {"true", "false"}) {
            if (text_.compare(at_, std::strlen(word), word) == 0) {
                at_ += std::strlen(word);
                out = word;
                return true;
            }
        }
        const size_t begin = at_;
        while (at_ < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[at_])) || text_[at_] == '-' ||
                                      text_[at_] == '+' || text_[at_] == '.' || text_[at_] == 'e' || text_[at_] == 'E'))
            ++at_;
        out = text_.substr(begin, at_ - begin);
        return !out.empty();
    }

    const std::string& text_;
    size_t at_ = 0;
};

}  // namespace

bool ParseJsonObject(const std::string& text, std::map<std::string, std::string>& out, std::string& error) {
    out.clear();
    return JsonReader(text).Object(out, error);
}

}  // namespace serve
