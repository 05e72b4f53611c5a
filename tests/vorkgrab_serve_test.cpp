// The live page's server as a browser in another tab, an attacker and a slow
// client meet it: over real sockets, against the program as a process.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ToolRunner.h"

namespace {

namespace fs = std::filesystem;
using vorktest::ReadTextFile;
using vorktest::TempDir;
using vorktest::WriteTextFile;

// A connected socket to the server, closed with the object.
class Connection {
public:
    explicit Connection(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        timeval limit{20, 0};  // a hang fails the test instead of stalling it
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~Connection() { close(fd_); }

    bool Send(const std::string& text) { return connected_ && send(fd_, text.data(), text.size(), MSG_NOSIGNAL) > 0; }
    // Up to `bytes` of the answer, or all of it until the server closes.
    std::string Receive(size_t bytes = std::string::npos) {
        std::string answer;
        char buffer[4096];
        while (answer.size() < bytes) {
            const ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
            if (n <= 0) break;
            answer.append(buffer, static_cast<size_t>(n));
        }
        return answer;
    }

private:
    int fd_;
    bool connected_ = false;
};

struct Answer {
    int status = 0;
    std::string body;
};

Answer Parse(const std::string& raw) {
    Answer a;
    if (raw.compare(0, 9, "HTTP/1.1 ") == 0) a.status = std::atoi(raw.c_str() + 9);
    const size_t end = raw.find("\r\n\r\n");
    if (end != std::string::npos) a.body = raw.substr(end + 4);
    return a;
}

struct Request {
    std::string method = "GET";
    std::string path = "/api/state";
    std::string host = "127.0.0.1:PORT";  // PORT becomes the server's
    std::string origin;                   // none when empty
    std::string type;                     // Content-Type; none when empty
    std::string body;
    std::string headers;  // more header lines, each ending in \r\n
};

std::string WithPort(std::string text, int port) {
    for (size_t at; (at = text.find("PORT")) != std::string::npos;) text.replace(at, 4, std::to_string(port));
    return text;
}

Answer Exchange(int port, const Request& r) {
    std::string text = r.method + " " + r.path + " HTTP/1.1\r\nHost: " + WithPort(r.host, port) +
                       "\r\nConnection: close\r\n";
    if (!r.origin.empty()) text += "Origin: " + WithPort(r.origin, port) + "\r\n";
    if (!r.type.empty()) text += "Content-Type: " + r.type + "\r\n";
    if (r.method == "POST" && !r.body.empty() && r.headers.find("Transfer-Encoding") == std::string::npos)
        text += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    text += WithPort(r.headers, port);
    Connection c(port);
    c.Send(text + "\r\n" + r.body);
    return Parse(c.Receive());
}

Answer Post(int port, const std::string& path, const std::string& json) {
    return Exchange(port, Request{"POST", path, "127.0.0.1:PORT", "", "application/json", json, ""});
}

class ServeTest : public ::testing::Test {
protected:
    ~ServeTest() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            vorktest::WaitForTool(pid_);
        }
    }

    // Starts serve and returns the address it printed, once it listens.
    std::string Start(std::vector<std::string> args) {
        vorktest::ToolRun run;
        run.args = {"serve", "--out", "snaps/snap_%03d.png"};
        run.args.insert(run.args.end(), args.begin(), args.end());
        // A server killed at the end leaves its temporary INI file here, not in /tmp.
        fs::create_directories(dir.path() / "tmp");
        run.env = {{"TMPDIR", (dir.path() / "tmp").string()}};
        pid_ = vorktest::StartTool(dir.path(), run);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::string out;
        while (out.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the program's output file, not a thread
            out = ReadTextFile(dir.path() / "out.txt");
        }
        const size_t colon = out.find(':', out.find("//"));
        if (colon != std::string::npos) port_ = std::atoi(out.c_str() + colon + 1);
        return out.substr(0, out.find('\n'));
    }

    int Stop(int signal) {
        kill(pid_, signal);
        const int code = vorktest::WaitForTool(pid_);
        pid_ = -1;
        return code;
    }

    // The first state the server publishes that `ready` accepts.
    std::string StateWhen(const std::function<bool(const std::string&)>& ready) {
        std::string state;
        for (int i = 0; i < 2000 && !ready(state); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the server publishes every 300 ms
            state = Exchange(port_, Request{}).body;
        }
        return state;
    }
    std::string FreshState() {
        const long before = Frames(Exchange(port_, Request{}).body);
        return StateWhen([&](const std::string& state) { return Frames(state) > before; });
    }

    static long Frames(const std::string& state) {
        const size_t at = state.find("\"frames\":");
        return at == std::string::npos ? -1 : std::atol(state.c_str() + at + 9);
    }

    TempDir dir;
    pid_t pid_ = -1;
    int port_ = 0;
};

TEST_F(ServeTest, OnlyItsOwnPageChangesAnything) {
    WriteTextFile(dir.path() / "user.ini", "[Mine]\nKeep=1\n");
    // The common webcam, YUY2 and MJPG only, with no option: the page shows it.
    Start({"--listen", "127.0.0.1:0", "--ini", "user.ini", "--cameras", VORK_SOURCE_DIR "/cameras/webcam.ini"});
    ASSERT_GT(port_, 0);
    const std::string ini = ReadTextFile(dir.path() / "user.ini");
    const std::string json = "{\"name\":\"brightness\",\"value\":\"90\"}";
    struct Case {
        const char* what;
        Request request;
        int status;
    } cases[] = {
        {"a rebinding name as Host", {"GET", "/api/state", "127.0.0.1.attacker.example:PORT", "", "", "", ""}, 403},
        {"the stream to a foreign Host", {"GET", "/stream", "attacker.example:PORT", "", "", "", ""}, 403},
        {"the snapshot to a foreign Host", {"GET", "/api/snapshot", "attacker.example", "", "", "", ""}, 403},
        {"a loopback Host on another port", {"GET", "/", "127.0.0.1:1", "", "", "", ""}, 403},
        {"no Host", {"GET", "/", "", "", "", "", ""}, 403},
        {"a change from another site", {"POST", "/api/set", "127.0.0.1:PORT", "http://attacker.example", "application/json", json, ""}, 403},
        {"a snap from another site", {"POST", "/api/snap", "127.0.0.1:PORT", "http://attacker.example", "application/json", "{}", ""}, 403},
        {"a stop from another site", {"POST", "/api/stop", "127.0.0.1:PORT", "null", "application/json", "{}", ""}, 403},
        {"a change in the query", {"POST", "/api/set?name=brightness&value=90", "127.0.0.1:PORT", "", "", "", ""}, 400},
        {"a form", {"POST", "/api/set", "127.0.0.1:PORT", "", "application/x-www-form-urlencoded", "name=brightness&value=90", ""}, 415},
        {"a JSON body that is not an object", {"POST", "/api/set", "127.0.0.1:PORT", "", "application/json", "[1]", ""}, 400},
        {"a body over the limit", {"POST", "/api/set", "127.0.0.1:PORT", "", "application/json", std::string(100000, ' ') + json, ""}, 413},
        {"a body of unknown length", {"POST", "/api/set", "127.0.0.1:PORT", "", "application/json", "5\r\n{    \r\n0\r\n\r\n", "Transfer-Encoding: chunked\r\n"}, 411},
        {"a stop with no length (its body read until the client hangs up)", {"POST", "/api/stop", "127.0.0.1:PORT", "", "application/json", "", ""}, 411},
        {"a second Host", {"GET", "/api/state", "127.0.0.1:PORT", "", "", "", "Host: attacker.example:PORT\r\n"}, 400},
        {"the stream in another site's <img>", {"GET", "/stream", "127.0.0.1:PORT", "", "", "", "Sec-Fetch-Site: cross-site\r\n"}, 403},
        {"the snapshot in a page on another port", {"GET", "/api/snapshot", "127.0.0.1:PORT", "", "", "", "Sec-Fetch-Site: same-site\r\n"}, 403},
        {"a link from another site to the page", {"GET", "/", "127.0.0.1:PORT", "", "", "", "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: navigate\r\n"}, 200},
        {"the page itself", {"GET", "/", "localhost:PORT", "", "", "", ""}, 200},
        {"the page's own change", {"POST", "/api/set", "localhost:PORT", "http://localhost:PORT", "application/json", "{\"name\":\"brightness\",\"value\":20}", ""}, 200},
        {"a key the change does not take (applied without it, it would claim success)", {"POST", "/api/set", "127.0.0.1:PORT", "", "application/json", "{\"name\":\"brightness\",\"value\":\"90\",\"Mode\":\"auto\"}", ""}, 400},
        {"a key given twice", {"POST", "/api/set", "127.0.0.1:PORT", "", "application/json", "{\"name\":\"brightness\",\"value\":\"90\",\"value\":\"10\"}", ""}, 400},
        {"a format that names nothing", {"POST", "/api/format", "127.0.0.1:PORT", "", "application/json", "{}", ""}, 400},
    };
    for (const Case& c : cases) EXPECT_EQ(Exchange(port_, c.request).status, c.status) << c.what;
    const std::string state = FreshState();
    EXPECT_GT(Frames(state), 0) << state;
    EXPECT_NE(state.find("{\"name\":\"brightness\",\"percent\":20,"), std::string::npos) << state;
    EXPECT_FALSE(fs::exists(dir.path() / "snaps")) << "a refused snap wrote a picture";
    EXPECT_EQ(ReadTextFile(dir.path() / "user.ini"), ini);
    // A link put in the file's place while the page runs is not written through.
    fs::rename(dir.path() / "user.ini", dir.path() / "victim.ini");
    fs::create_symlink("victim.ini", dir.path() / "user.ini");
    const Answer linked = Post(port_, "/api/camera", "{\"index\":0}");
    EXPECT_NE(linked.body.find("user.ini became a link; nothing was written"), std::string::npos) << linked.body;
    EXPECT_EQ(ReadTextFile(dir.path() / "victim.ini"), ini);
    EXPECT_EQ(Post(port_, "/api/stop", "{}").status, 200);
    EXPECT_EQ(vorktest::WaitForTool(pid_), 0);
    pid_ = -1;
}

TEST_F(ServeTest, StreamsAndSlowClientsLeaveThePageAnsweringAndSigtermEndsIt) {
    Start({"--listen", "127.0.0.1:0"});
    ASSERT_GT(port_, 0);
    std::vector<std::unique_ptr<Connection>> held;
    int streaming = 0, refused = 0;
    for (int i = 0; i < 16; ++i) {
        held.push_back(std::make_unique<Connection>(port_));
        held.back()->Send("GET /stream HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) + "\r\n\r\n");
        const int status = Parse(held.back()->Receive(12)).status;
        streaming += status == 200;
        refused += status == 503;
    }
    EXPECT_EQ(streaming, 4);
    EXPECT_EQ(refused, 12);
    for (int i = 0; i < 16; ++i) {
        held.push_back(std::make_unique<Connection>(port_));
        held.back()->Send("G");  // and never more
    }
    EXPECT_EQ(Exchange(port_, Request{}).status, 200);
    EXPECT_EQ(Exchange(port_, Request{"GET", "/", "127.0.0.1:PORT", "", "", "", ""}).status, 200);
    EXPECT_EQ(Stop(SIGTERM), 130);
}

TEST_F(ServeTest, WhatTheCameraRefusesLeavesNothingBehind) {
    WriteTextFile(dir.path() / "cams.ini",
                  "[a]\nFriendlyName=Twin\nDevicePath=same\nFormats=640x480 RGB24 30, 320x240 RGB32 30\n"
                  "[b]\nFriendlyName=Twin\nDevicePath=same\nFormats=640x480 RGB24 30\n");
    const std::string ini = "; the user's\r\n[Other]\r\nX=1\r\n";
    WriteTextFile(dir.path() / "user.ini", ini);
    fs::create_directories(dir.path() / "snaps");
    WriteTextFile(dir.path() / "snaps" / "snap_000.png", "another run's");
    Start({"--listen", "127.0.0.1:0", "--ini", "user.ini", "--cameras", "cams.ini"});
    ASSERT_GT(port_, 0);
    const std::string before = ReadTextFile(dir.path() / "user.ini");
    struct Case {
        const char* path;
        const char* json;
        const char* says;
    } refusals[] = {
        {"/api/format", "{\"size\":\"16384x16384\"}", "16384"},
        {"/api/format", "{\"mode\":\"0\"}", "colour mode 0"},
        {"/api/format", "{\"fps\":\"999\"}", "not applied"},
        {"/api/camera", "{\"index\":1}", "cannot be"},
    };
    for (const Case& c : refusals) {
        const Answer a = Post(port_, c.path, c.json);
        EXPECT_EQ(a.status, 400) << c.json;
        EXPECT_NE(a.body.find(c.says), std::string::npos) << c.json << ": " << a.body;
        EXPECT_EQ(ReadTextFile(dir.path() / "user.ini"), before) << c.json;
    }
    EXPECT_EQ(Post(port_, "/api/format", "{\"mode\":\"5\",\"size\":\"320x240\"}").status, 200) << "a refusal stuck";
    const Answer snap = Post(port_, "/api/snap", "{}");
    EXPECT_EQ(snap.status, 200) << snap.body;
    EXPECT_TRUE(fs::exists(dir.path() / "snaps" / "snap_001.png"));
    EXPECT_TRUE(ReadTextFile(dir.path() / "snaps" / "snap_000.png") == "another run's") << "a picture of another run was replaced";
    EXPECT_EQ(Stop(SIGTERM), 130);
}

TEST_F(ServeTest, ThePageOutlivesAPulledCamera) {
    WriteTextFile(dir.path() / "usb.ini", "[u]\nFriendlyName=USB\nDevicePath=usb-1\nFormats=320x240 RGB24 30\nUnplug=300/300\n");
    Start({"--listen", "127.0.0.1:0", "--cameras", "usb.ini"});
    ASSERT_GT(port_, 0);
    auto until = [&](const char* what) {
        return StateWhen([&](const std::string& state) { return state.find(what) != std::string::npos; });
    };
    EXPECT_NE(until("\"lost\":true").find("camera lost, waiting for it"), std::string::npos);
    const long before = Frames(until("\"lost\":false"));
    EXPECT_GT(Frames(FreshState()), before) << "no live picture after the return";
    EXPECT_EQ(Stop(SIGTERM), 130);
}

TEST_F(ServeTest, APortInUseIsAnErrorAndBeyondLoopbackATokenIsNeeded) {
    const std::string address = Start({"--listen", "0.0.0.0:0"});
    ASSERT_GT(port_, 0);
    const size_t at = address.find("?token=");
    ASSERT_NE(at, std::string::npos) << address;
    const std::string token = address.substr(at + 7);
    EXPECT_EQ(Exchange(port_, Request{}).status, 403);
    EXPECT_EQ(Exchange(port_, Request{"GET", "/api/state?token=x" + token, "h:1", "", "", "", ""}).status, 403);
    EXPECT_EQ(Exchange(port_, Request{"GET", "/api/state?token=" + token, "camera.lan:1", "", "", "", ""}).status, 200);

    TempDir other;
    const vorktest::ToolResult second =
        vorktest::RunTool(other.path(), {"serve", "--listen", "127.0.0.1:" + std::to_string(port_)});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("in use"), std::string::npos) << second.err;
}

// Every Linux example of the README, as a person pastes it into a fresh folder
// (with the project's cameras/ beside it); serve is stopped as Ctrl+C stops it.
TEST_F(ServeTest, TheReadmeExamplesDoWhatTheySay) {
    std::ifstream readme(VORK_SOURCE_DIR "/README.md");
    ASSERT_TRUE(readme) << "README.md";
    fs::copy(VORK_SOURCE_DIR "/cameras", dir.path() / "cameras");
    int examples = 0;
    for (std::string line; std::getline(readme, line);) {
        if (line.compare(0, 13, "    vorkgrab ") != 0) continue;
        std::istringstream words(line.substr(0, line.find(" #")));
        std::vector<std::string> args;
        for (std::string word; words >> word;) args.push_back(word);
        args.erase(args.begin());
        ++examples;
        if (args[0] == "serve") {
            const std::string address = Start({"--listen", "127.0.0.1:0"});
            EXPECT_EQ(Exchange(port_, Request{"GET", "/", "127.0.0.1:PORT", "", "", "", ""}).status, 200) << address;
            EXPECT_EQ(Stop(SIGINT), 130) << line;
            continue;
        }
        const vorktest::ToolResult r = vorktest::RunTool(dir.path(), args);
        EXPECT_EQ(r.exitCode, 0) << line << "\n" << r.err;
    }
    EXPECT_GE(examples, 9);
}

}  // namespace
