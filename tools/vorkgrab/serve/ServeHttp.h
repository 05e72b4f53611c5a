// The live page's HTTP side, hardened for a browser that also visits other sites
// and for clients that never finish: who may ask (the page's own address, or a
// token beyond loopback), how state changes travel (a JSON body), and how long a
// connection may hold a worker.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace serve {

// One request per connection, read within a whole-request deadline rather than
// a per-read one, so a client that sends a byte every few seconds cannot keep a
// worker; every open connection can be cut at once when the program stops.
// When the workers run short, connections that have not sent their request
// after kIdleGrace are cut, so that idle or trickling clients make room for the
// page at once instead of after the whole-request limit.
class GuardedServer : public httplib::Server {
public:
    static constexpr int kWorkers = 24;
    static constexpr std::chrono::milliseconds kRequestReadLimit{2000};
    static constexpr std::chrono::milliseconds kIdleGrace{300};
    static constexpr std::chrono::milliseconds kWriteLimit{5000};
    static constexpr size_t kMaxBody = 4096;

    GuardedServer();
    ~GuardedServer() override;
    // Binds without SO_REUSEPORT, so a port another server holds is refused.
    // Returns the port, or -1.
    int Bind(const std::string& host, int port);
    // Shuts every open connection (SHUT_RD: only what is still being read) and
    // refuses new ones.
    void CutConnections(int how);

private:
    struct Connection {
        std::chrono::steady_clock::time_point since;
        bool reading = true;  // its request has not arrived whole yet
    };

    bool process_and_close_socket(socket_t sock) override;
    bool Track(socket_t sock);
    void RequestRead(socket_t sock);
    void Untrack(socket_t sock);
    void WatchIdle();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<socket_t, Connection> open_;
    bool cutting_ = false;
    bool ending_ = false;
    std::thread watcher_;
};

// Who the page answers. On loopback: requests whose Host names a loopback address
// with the server's port (this stops DNS rebinding). Beyond loopback: requests
// carrying the token, in the X-Vorkgrab-Token header or the token query parameter.
class Gate {
public:
    Gate(const std::string& listenHost, int port);
    bool NeedsToken() const { return !token_.empty(); }
    const std::string& token() const { return token_; }
    // The page's address as printed at start.
    std::string Address() const;
    // Empty when the request may go on; otherwise why it may not, with the
    // status to answer.
    std::pair<int, std::string> Check(const httplib::Request& request) const;

private:
    bool HostAllowed(const std::string& host) const;

    std::string listenHost_;
    int port_;
    std::string token_;
};

bool IsLoopback(const std::string& host);

// A flat JSON object of strings, numbers and booleans, as the page posts it:
// false with `error` set for anything else.
bool ParseJsonObject(const std::string& text, std::map<std::string, std::string>& out, std::string& error);

}  // namespace serve
