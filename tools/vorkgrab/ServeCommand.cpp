// serve: a live camera page on a local address. The thread that opened the board
// keeps every call into the plug-in: it pumps the window messages, takes the
// frames of continuous acquisition, encodes the latest as JPEG for the page's
// stream, and carries out the requests that the HTTP threads queue for it
// (properties, format, camera, snap, stop). The HTTP threads never touch the
// grabber.
#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "Commands.h"
#include "DeviceWatch.h"
#include "serve/ServeHttp.h"
#include "Errors.h"
#include "Frames.h"
#include "Properties.h"
#include "Session.h"
#include "Text.h"
#include "vork/host.h"
#include "vork/utf8.h"

using vork::Utf8;

namespace {

using Clock = std::chrono::steady_clock;

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A request for the board's thread, and its answer: an HTTP status and a body.
struct Job {
    std::string kind;
    std::map<std::string, std::string> args;
    std::promise<std::pair<int, std::string>> done;
};

// What the board's thread and the HTTP threads share, under one mutex.
struct Shared {
    std::mutex mutex;
    std::condition_variable frameReady;
    std::string jpeg;  // the latest frame
    long frames = 0;
    std::string state = "{}";
    std::deque<std::shared_ptr<Job>> jobs;
    std::string snapshot;  // the last snap, for the page to show
    int streams = 0;       // open /stream responses
    bool stopping = false;
};

// Each open stream holds a worker; more are refused so the page and the API
// always find one.
constexpr int kMaxStreams = 4;

std::pair<int, std::string> Answer(bool ok, const std::string& message) {
    return {ok ? 200 : 400, "{\"ok\":" + std::string(ok ? "true" : "false") + ",\"message\":" + JsonString(message) + "}"};
}


class Server {
public:
    Server(Plugin& plugin, Options o) : plugin_(plugin), o_(std::move(o)) {}

    int Run() {
        const std::string host = o_.listen.first;
        const int port = http_.Bind(host, o_.listen.second);
        if (port <= 0)
            throw Failure{"--listen: cannot listen on " + host + ":" + std::to_string(o_.listen.second) +
                          " (the port is in use, or the address is not this machine's)"};
        gate_ = std::make_unique<serve::Gate>(host, port);
        SetUpRoutes();
        std::printf("serving on %s\n", gate_->Address().c_str());
        std::fflush(stdout);
        std::thread listener([this] {
            http_.listen_after_bind();
            listenerDone_.set_value();
        });
        try {
            Loop();
        } catch (...) {
            Shutdown(listener);
            throw;
        }
        Shutdown(listener);
        return vork::Interrupted() ? kInterrupted : kSuccess;
    }

private:
    CVORKDirectShowGrabber& g() { return plugin_.grabber(); }

    // Answers being written may finish, so the page learns that its stop was
    // taken; what is still being read, or not read by its client, is cut.
    void Shutdown(std::thread& listener) {
        {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            shared_.stopping = true;
            for (auto& job : shared_.jobs) job->done.set_value(Answer(false, "the server is stopping"));
            shared_.jobs.clear();
        }
        shared_.frameReady.notify_all();
        http_.CutConnections(SHUT_RD);
        http_.stop();
        if (listenerDone_.get_future().wait_for(std::chrono::milliseconds(500)) != std::future_status::ready)
            http_.CutConnections(SHUT_RDWR);
        listener.join();
        if (plugin_.IsOpen() && g().IsGrabThreadRunning()) g().StopGrabThread(true);
    }

    // ---- The board's thread ------------------------------------------------------
    void Loop() {
        Start();
        auto lastState = Clock::time_point{};
        while (!vork::Interrupted()) {
            PumpMessages();
            if (lost_) WaitForCamera();
            else if (const std::string gone = CameraGone(); !gone.empty()) Lose(gone);
            else if (acquiring_) TakeFrame();
            else std::this_thread::sleep_for(std::chrono::milliseconds(20));  // no camera: only requests
            RunJobs();
            if (Clock::now() - lastState > std::chrono::milliseconds(300)) {
                PublishState();
                lastState = Clock::now();
            }
            std::lock_guard<std::mutex> lock(shared_.mutex);
            if (shared_.stopping) break;
        }
    }

    // An error event 31, or a loss that no event reports; why, or empty.
    std::string CameraGone() {
        if (g_reports.deviceLost != lostSeen_) return "the camera was lost";
        return acquiring_ && quiet_ ? quiet_->Lost() : "";
    }

    // The board is closed while the camera is away: opening it then would fall
    // back to another camera and rewrite the user's INI file.
    void Lose(const std::string& why) {
        lostSeen_ = g_reports.deviceLost;
        if (o_.noReconnect) throw Failure{why, kCameraLost};
        std::fprintf(stderr, "%s; %s\n", why.c_str(),
                     DeviceAttached(devicePath_) ? "opening it again" : "waiting for it to come back");
        Stop();
        reader_.reset();
        plugin_.Close();
        lost_ = true;
        lostAt_ = Clock::now();
        message_ = "camera lost, waiting for it";
    }

    void WaitForCamera() {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (Clock::now() - lastLook_ < std::chrono::milliseconds(200)) return;
        lastLook_ = Clock::now();
        if (!DeviceAttached(devicePath_)) return;
        plugin_.Open(o_);
        PumpMessages();
        lostSeen_ = g_reports.deviceLost;
        lost_ = false;
        if (o_.fps && g().IsInitialized()) g().WriteFramerate(*o_.fps);
        if (!controls_.empty() && g().IsInitialized()) {
            std::vector<std::string> settings;
            for (const auto& [name, assignment] : controls_) settings.push_back(assignment);
            try {
                ApplySettings(g(), settings, false);
            } catch (const Failure& e) {
                std::fprintf(stderr, "vorkgrab: %s\n", e.message.c_str());
            }
        }
        Start();
        std::fprintf(stderr, "the camera is back after %.1f s\n",
                     std::chrono::duration<double>(Clock::now() - lostAt_).count());
    }

    void Start() {
        reader_.reset();
        acquiring_ = false;
        message_.clear();
        VORKCamInfo active{};
        g().GetActCamInfo(active);
        devicePath_ = WatchablePath(active.szDevicePath);
        if (!g().IsInitialized()) {
            message_ = "no camera could be opened";
            return;
        }
        try {
            reader_ = std::make_unique<FrameReader>(g(), o_, CheckDelivery(g(), o_));
        } catch (const Failure& e) {
            message_ = e.message;
            return;
        }
        double rate = 0;
        if (g().ReadFramerate(rate) != 0) rate = 0;
        acquiring_ = g().StartGrabThread();
        quiet_ = std::make_unique<QuietCamera>(devicePath_, o_.timeout, rate);
        if (!acquiring_) message_ = "continuous acquisition did not start";
    }

    void Stop() {
        if (g().IsGrabThreadRunning()) g().StopGrabThread(true);
        acquiring_ = false;
    }

    void TakeFrame() {
        BYTE* image = g().GetLastGrabbedBufferInRingSynced(40);
        if (!image || !g().LockBufferInRing(image)) return;
        quiet_->Frame();
        try {
            latest_ = reader_->Read(image);
        } catch (const Failure& e) {
            message_ = e.message;
        }
        g().ReleaseBufferInRing(image);
        std::vector<uint8_t> jpeg = Encode(latest_, ImageKind::Jpeg, 80);
        {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            shared_.jpeg.assign(jpeg.begin(), jpeg.end());
            ++shared_.frames;
        }
        shared_.frameReady.notify_all();
    }

    void RunJobs() {
        std::deque<std::shared_ptr<Job>> jobs;
        {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            jobs.swap(shared_.jobs);
        }
        for (auto& job : jobs) {
            std::pair<int, std::string> answer;
            try {
                answer = Do(*job);
            } catch (const UsageError& e) {
                answer = Answer(false, e.message);
            } catch (const Failure& e) {
                answer = Answer(false, e.message);
            }
            job->done.set_value(answer);
        }
    }

    std::pair<int, std::string> Do(Job& job) {
        if (lost_ && job.kind != "stop") return Answer(false, "the camera is lost; waiting for it to come back");
        if (job.kind == "set") {
            const std::string assignment = job.args["name"] + "=" + job.args["value"] +
                                           (job.args.count("mode") ? ":" + job.args["mode"] : std::string());
            ApplySettings(g(), {assignment}, false);
            controls_[job.args["name"]] = assignment;  // applied again after a reconnection
            return Answer(true, assignment);
        }
        if (job.kind == "snap") return Snap();
        if (job.kind == "format") return Format(job.args);
        if (job.kind == "camera") return Camera(job.args["index"]);
        if (job.kind == "stop") {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            shared_.stopping = true;
            return Answer(true, "stopping");
        }
        return Answer(false, "unknown request");
    }

    std::pair<int, std::string> Snap() {
        if (latest_.width == 0) return Answer(false, "no picture yet");
        const std::wstring name = saver_.SaveUnderFreeName(latest_);
        // The page shows it as PNG: browsers show no BMP or PPM.
        const std::vector<uint8_t> bytes = Encode(latest_, ImageKind::Png);
        {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            shared_.snapshot.assign(bytes.begin(), bytes.end());
        }
        return Answer(true, Utf8(name));
    }

    // A new colour mode, size or rate is written into the channel's settings and
    // the board opened again, as the framework applies them when it opens. What
    // the camera refuses is put back, in the file and here, and the board opened
    // as it was.
    std::pair<int, std::string> Format(std::map<std::string, std::string>& args) {
        Options asked = o_;
        long long value = 0;
        if (args.count("mode")) {
            if (!ParseWhole(args["mode"], 0, 5, value) || value == 1) return Answer(false, "mode: 0, 2, 3, 4 or 5");
            asked.colorMode = static_cast<int>(value);
        }
        if (args.count("size")) {
            const std::string size = args["size"];
            const size_t x = size.find('x');
            long long w = 0, h = 0;
            if (x == std::string::npos || !ParseWhole(size.substr(0, x), 1, kMaxImageSide, w) ||
                !ParseWhole(size.substr(x + 1), 1, kMaxImageSide, h))
                return Answer(false, "size: WIDTHxHEIGHT");
            asked.size = std::make_pair(static_cast<int>(w), static_cast<int>(h));
        }
        double fps = 0;
        if (args.count("fps") && !args["fps"].empty() && !ParseDecimal(args["fps"], 1000, fps))
            return Answer(false, "fps: a number above 0 and up to 1000");
        std::string refusal = Reconfigure(asked, fps);
        if (refusal.empty()) return Answer(true, "applied");
        return Answer(false, refusal);
    }

    // The page's format is the run's, as the command line's is: handed to the
    // framework in memory, never written into the user's INI file.
    std::string Reconfigure(const Options& asked, double fps) {
        const Options previous = o_;
        Stop();
        HandToFramework(asked);
        plugin_.Reopen(asked);
        o_ = asked;
        Start();
        std::string refusal = message_;
        if (refusal.empty() && fps > 0) refusal = RateRefusal(fps);
        if (refusal.empty()) {
            if (fps > 0) o_.fps = fps;
            return "";
        }
        Stop();
        o_ = previous;
        HandToFramework(o_);
        plugin_.Reopen(o_);
        if (o_.fps && g().IsInitialized()) g().WriteFramerate(*o_.fps);
        Start();
        return refusal;
    }

    // The rate checked as the command line checks it: written, then read back.
    std::string RateRefusal(double asked) {
        const int written = g().WriteFramerate(asked);
        double now = 0;
        const int read = g().ReadFramerate(now);
        if (written == 0 && read == 0 && std::fabs(now - asked) <= asked * 1e-3) return "";
        char text[160];
        std::snprintf(text, sizeof(text), "fps %g was not applied (result %d): the camera runs at %.3f", asked, written,
                      now);
        return text;
    }

    std::pair<int, std::string> Camera(const std::string& index) {
        int count = 0;
        std::unique_ptr<VORKCamInfo[]> infos(g().GetCamInfos(count));
        long long i = -1;
        if (!infos || !ParseWhole(index, 0, count - 1, i)) return Answer(false, "no such camera");
        const VORKCamInfo chosen = infos[static_cast<size_t>(i)];
        for (int j = 0; j < count; ++j)
            if (j != i && std::wcscmp(infos[j].szDevicePath, chosen.szDevicePath) == 0)
                return Answer(false, "camera " + std::to_string(i) + " has the device path of camera " +
                                         std::to_string(j) + ", so it cannot be chosen apart from it");
        Stop();
        std::string refusal;
        {
            IniEdit edit(o_);
            try {
                edit.Write(o_.grabber, L"FriendlyNamePart", chosen.szFriendlyName);
                edit.Write(o_.grabber, L"DevicePath", chosen.szDevicePath);
            } catch (const Failure& e) {
                refusal = e.message;
            }
            if (refusal.empty()) plugin_.Reopen(o_);
            VORKCamInfo active{};
            g().GetActCamInfo(active);
            if (refusal.empty() && g().IsInitialized() && active.nDeviceNumber != chosen.nDeviceNumber)
                refusal = "camera " + std::to_string(i) +
                          " cannot be chosen: it has no device path and shares its name with another camera, so the "
                          "grabber connected camera " + std::to_string(active.nDeviceNumber) + " instead";
            if (refusal.empty()) Start();
            if (refusal.empty() && message_.empty()) {
                try {
                    edit.Keep();
                    return Answer(true, Printable(std::wstring(chosen.szFriendlyName)));
                } catch (const Failure& e) {
                    refusal = e.message;  // the copy is put back, and the camera it names opened again
                }
            }
            if (refusal.empty()) refusal = message_;
        }
        plugin_.Reopen(o_);
        Start();
        return Answer(false, refusal);
    }

    void PublishState() {
        // While a lost camera is awaited there is no grabber to ask.
        const bool open = plugin_.IsOpen() && g().IsInitialized();
        std::string json = "{";
        long frames = 0;
        {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            frames = shared_.frames;
        }
        json += "\"frames\":" + std::to_string(frames);
        json += ",\"lost\":" + std::string(lost_ ? "true" : "false");
        json += ",\"message\":" + JsonString(message_);
        double level = 0;
        for (uint8_t v : latest_.rgb) level += v;
        json += ",\"meanLevel\":" + std::to_string(latest_.rgb.empty() ? 0.0 : level / static_cast<double>(latest_.rgb.size()));
        json += ",\"properties\":[";
        bool first = true;
        if (open) {
            for (const NamedProperty* p = PropertiesBegin(); p != PropertiesEnd(); ++p) {
                PropertyValue v;
                if (ReadProperty(g(), *p, v) != 0) continue;
                json += std::string(first ? "" : ",") + "{\"name\":" + JsonString(p->name) +
                        ",\"percent\":" + std::to_string(v.percent) + ",\"auto\":" + (v.automatic ? "true" : "false") +
                        ",\"enabled\":" + (v.enabled ? "true" : "false") + ",\"hasMode\":" +
                        (p->kind == PropertyKind::Gain || p->kind == PropertyKind::Offset ? "false" : "true") + "}";
                first = false;
            }
        }
        json += "],\"format\":";
        VORKDSFrameFormat f{};
        if (open && g().ReadFrameFormat(f) == 0) {
            double rate = 0;
            g().ReadFramerate(rate);
            json += "{\"mode\":" + std::to_string(ModeOfSubtype(f.subtype)) + ",\"size\":\"" + std::to_string(f.width) +
                    "x" + std::to_string(f.height < 0 ? -f.height : f.height) + "\",\"fps\":" + std::to_string(rate) +
                    ",\"camera\":" +
                    JsonString(std::to_string(f.sourceWidth) + "x" +
                               std::to_string(f.sourceHeight < 0 ? -f.sourceHeight : f.sourceHeight) + " " +
                               SubtypeName(f.sourceSubtype)) +
                    "}";
        } else {
            json += "null";
        }
        json += ",\"offered\":[";
        VORKDSOfferedFormat offered[32];
        int count = 32;
        if (open && g().ReadOfferedFormats(offered, count) == 0) {
            for (int i = 0; i < count && i < 32; ++i)
                json += std::string(i ? "," : "") + "\"" + std::to_string(offered[i].width) + "x" +
                        std::to_string(offered[i].height) + "\"";
        }
        json += "],\"cameras\":[";
        int cameras = 0;
        std::unique_ptr<VORKCamInfo[]> infos(plugin_.IsOpen() ? g().GetCamInfos(cameras) : nullptr);
        VORKCamInfo active{};
        if (plugin_.IsOpen()) g().GetActCamInfo(active);
        for (int i = 0; infos && i < cameras; ++i) {
            const bool connected = open && infos[i].nDeviceNumber == active.nDeviceNumber &&
                                   std::wcscmp(infos[i].szDevicePath, active.szDevicePath) == 0;
            json += std::string(i ? "," : "") + "{\"index\":" + std::to_string(i) +
                    ",\"name\":" + JsonString(Printable(std::wstring(infos[i].szFriendlyName), 255)) +
                    ",\"connected\":" + (connected ? "true" : "false") + "}";
        }
        json += "],\"events\":[";
        const std::vector<RecentEvent> events = RecentEvents();
        for (size_t i = 0; i < events.size(); ++i) {
            const bool info = events[i].firstRun;
            const std::string text =
                info ? "no camera configured; using " + Printable(std::wstring(active.szFriendlyName), 255) : events[i].text;
            json += std::string(i ? "," : "") + "{\"text\":" + JsonString(text) + ",\"info\":" + (info ? "true" : "false") + "}";
        }
        json += "]}";
        std::lock_guard<std::mutex> lock(shared_.mutex);
        shared_.state = json;
    }

    // ---- The HTTP threads -----------------------------------------------------------
    std::pair<int, std::string> Queue(const std::string& kind, const httplib::Request& request) {
        auto job = std::make_shared<Job>();
        job->kind = kind;
        std::string error;
        if (!serve::ParseJsonObject(request.body.empty() ? "{}" : request.body, job->args, error))
            return Answer(false, "the body: " + error);
        if (const std::string refusal = CheckKeys(kind, job->args); !refusal.empty()) return Answer(false, refusal);
        std::future<std::pair<int, std::string>> answer = job->done.get_future();
        {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            if (shared_.stopping) return Answer(false, "the server is stopping");
            shared_.jobs.push_back(job);
        }
        if (answer.wait_for(std::chrono::seconds(20)) == std::future_status::ready) return answer.get();
        // A request still waiting is taken back, so that what the page was told
        // failed is not carried out later.
        std::lock_guard<std::mutex> lock(shared_.mutex);
        if (answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready) return answer.get();
        const auto queued = std::find(shared_.jobs.begin(), shared_.jobs.end(), job);
        if (queued == shared_.jobs.end()) return Answer(false, "the camera did not answer in time; the request may still take effect");
        shared_.jobs.erase(queued);
        return Answer(false, "the camera did not answer in time; nothing was changed");
    }

    // A key the request does not take would be dropped unseen, and the answer
    // would claim what was not applied.
    static std::string CheckKeys(const std::string& kind, const std::map<std::string, std::string>& args) {
        static const std::map<std::string, std::pair<std::set<std::string>, std::set<std::string>>> kKeys = {
            // request: {keys it takes, keys it needs}
            {"set", {{"name", "value", "mode"}, {"name", "value"}}},
            {"format", {{"mode", "size", "fps"}, {}}},
            {"camera", {{"index"}, {"index"}}},
            {"snap", {{}, {}}},
            {"stop", {{}, {}}},
        };
        const auto& [takes, needs] = kKeys.at(kind);
        for (const auto& arg : args)
            if (!takes.count(arg.first)) return "/api/" + kind + " takes no \"" + Printable(arg.first, 40) + "\"";
        for (const std::string& key : needs)
            if (!args.count(key)) return "/api/" + kind + " needs \"" + key + "\"";
        if (kind == "format" && std::all_of(args.begin(), args.end(), [](const auto& arg) { return arg.second.empty(); }))
            return "/api/format needs \"mode\", \"size\" or \"fps\"";
        return "";
    }

    void SetUpRoutes() {
        http_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
            const auto [status, why] = gate_->Check(request);
            if (status == 0) return httplib::Server::HandlerResponse::Unhandled;
            response.status = status;
            response.set_content(Answer(false, why).second, "application/json");
            return httplib::Server::HandlerResponse::Handled;
        });
        http_.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"X-Frame-Options", "DENY"},
                                   {"Cache-Control", "no-store"}});
        http_.Get("/", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(kServePage, "text/html; charset=utf-8");
        });
        http_.Get("/api/state", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            response.set_content(shared_.state, "application/json");
        });
        http_.Get("/frame.jpg", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            if (shared_.jpeg.empty()) {
                response.status = 503;
                return;
            }
            response.set_content(shared_.jpeg, "image/jpeg");
        });
        http_.Get("/api/snapshot", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            if (shared_.snapshot.empty()) {
                response.status = 404;
                return;
            }
            response.set_content(shared_.snapshot, "image/png");
        });
        http_.Get("/stream", [this](const httplib::Request&, httplib::Response& response) {
            {
                std::lock_guard<std::mutex> lock(shared_.mutex);
                if (shared_.streams >= kMaxStreams) {
                    response.status = 503;
                    response.set_content(Answer(false, "too many open streams").second, "application/json");
                    return;
                }
                ++shared_.streams;
            }
            response.set_content_provider(
                "multipart/x-mixed-replace; boundary=frame",
                [this, sent = -1L](size_t, httplib::DataSink& sink) mutable { return SendNextFrame(sink, sent); },
                [this](bool) {
                    std::lock_guard<std::mutex> lock(shared_.mutex);
                    --shared_.streams;
                });
        });
        for (const char* kind : {"set", "snap", "format", "camera", "stop"}) {
            http_.Post(std::string("/api/") + kind, [this, kind](const httplib::Request& request, httplib::Response& response) {
                const auto [status, body] = Queue(kind, request);
                response.status = status;
                response.set_content(body, "application/json");
            });
        }
    }

    // One part of the MJPEG stream: waits for a frame newer than the last sent.
    bool SendNextFrame(httplib::DataSink& sink, long& sent) {
        std::string jpeg;
        {
            std::unique_lock<std::mutex> lock(shared_.mutex);
            shared_.frameReady.wait_for(lock, std::chrono::seconds(1),
                                        [&] { return shared_.stopping || shared_.frames != sent; });
            if (shared_.stopping) return false;
            if (shared_.frames == sent || shared_.jpeg.empty()) return true;  // nothing new: keep the stream
            sent = shared_.frames;
            jpeg = shared_.jpeg;
        }
        const std::string head =
            "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg.size()) + "\r\n\r\n";
        return sink.write(head.data(), head.size()) && sink.write(jpeg.data(), jpeg.size()) && sink.write("\r\n", 2);
    }

    Plugin& plugin_;
    Options o_;
    Shared shared_;
    serve::GuardedServer http_;
    std::unique_ptr<serve::Gate> gate_;
    std::promise<void> listenerDone_;
    std::unique_ptr<FrameReader> reader_;
    Saver saver_{o_};
    RgbImage latest_;
    bool acquiring_ = false;
    std::string message_;
    // A pulled camera: the device path watched while the board is closed.
    bool lost_ = false;
    int lostSeen_ = 0;
    std::wstring devicePath_;
    Clock::time_point lostAt_, lastLook_;
    std::unique_ptr<QuietCamera> quiet_;  // of the stream since the last start
    std::map<std::string, std::string> controls_;  // the page's control settings, by name
};

}  // namespace

int ServeCommand(Plugin& plugin, const Options& o) {
    Server server(plugin, o);
    return server.Run();
}
