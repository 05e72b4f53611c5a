// snap: pictures from a running stream once the camera's picture has settled,
// or, with --skip 0, the first frames as the plug-in delivers them (single snaps
// where the channel uses them); saved as a person sees the scene whatever the
// grabber did to the frame. A continuous run outlives a pulled camera: it closes
// the board, waits for the same device path and goes on with the same settings.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "Commands.h"
#include "DeviceWatch.h"
#include "Errors.h"
#include "Frames.h"
#include "ImageFile.h"
#include "OutputPattern.h"
#include "Session.h"
#include "vork/host.h"
#include "vork/utf8.h"

using vork::Utf8;

namespace {

using Clock = std::chrono::steady_clock;

std::string Pictures(long long n) { return std::to_string(n) + (n == 1 ? " picture was" : " pictures were"); }

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class SnapRun {
public:
    SnapRun(Plugin& plugin, const Options& o)
        : plugin_(plugin), o_(o), saver_(o), start_(Clock::now()),
          progress_(vork::IsTerminal(stderr) && (o.continuous || o.count > 1 || o.seconds > 0)) {}

    int Run() {
        if (!o_.settings.empty()) ApplySettings(g(), o_.settings, false);
        if (o_.fps) CheckRate(g(), *o_.fps, g().WriteFramerate(*o_.fps), "was not applied");
        reader_ = std::make_unique<FrameReader>(g(), o_, CheckDelivery(g(), o_));
        try {
            if (!o_.continuous && o_.skip == 0) SingleSnaps();
            else Stream();
        } catch (Failure& failure) {
            // A run cut short says how far it got.
            if (saver_.saved() > 0) failure.message += "; " + Pictures(saver_.saved()) + " saved before";
            throw;
        }
        return Finish();
    }

private:
    CVORKDirectShowGrabber& g() { return plugin_.grabber(); }

    bool Done() const {
        return o_.seconds > 0 ? Since(start_) >= o_.seconds : used_ >= o_.count * o_.every;
    }

    void Report(bool last) {
        std::fprintf(stderr, "%s%lld frames, %.1f frames per second, %lld errors, %lld saved%s", progress_ ? "\r" : "",
                     frames_, Since(start_) > 0 ? static_cast<double>(frames_) / Since(start_) : 0.0, errors_,
                     saver_.saved(), last ? "\n" : "");
    }

    void Use(const RgbImage& picture) {
        ++used_;
        if (used_ % o_.every != 0) return;
        const std::wstring name = saver_.Save(picture);
        if (!o_.continuous) std::printf("%s\n", Utf8(name).c_str());
    }

    void SingleSnaps() {
        while (!Done() && g_reports.deviceLost == 0 && !vork::Interrupted()) {
            BYTE* image = g().SnapToAddBuffer(o_.timeout);
            PumpMessages();
            if (!image) {
                ++errors_;
                if (errors_ >= 3 && errors_ > frames_) {
                    starved_ = true;  // the camera gives nothing
                    return;
                }
                continue;
            }
            ++frames_;
            Use(reader_->Read(image));
            if (progress_) Report(false);
        }
    }

    void Stream() {
        Settling settling(o_.skip);
        StartStream();
        while (!Done() && !vork::Interrupted()) {
            PumpMessages();
            if (g_reports.deviceLost != lostSeen_) {
                Reconnect("the camera was lost");
                continue;
            }
            // Short waits, so that media events are handled on this thread.
            BYTE* image = g().GetLastGrabbedBufferInRingSynced(100);
            if (!image) {
                if (const std::string lost = quiet_->Lost(); !lost.empty()) {
                    Reconnect(lost);
                    continue;
                }
                if (g().IsGrabThreadRunning() && !quiet_->Starved()) continue;
                starved_ = true;
                break;
            }
            quiet_->Frame();
            ++frames_;
            if (backAt_) {
                std::fprintf(stderr, "the first frame came %.0f ms after the camera was back\n", Since(*backAt_) * 1000);
                backAt_.reset();
            }
            TakeFrame(settling, image);
            if (progress_ && frames_ % 10 == 0) Report(false);
        }
        if (plugin_.IsOpen()) {
            g().StopGrabThread(true);
            errors_ += g().GetGrabThreadErrors();
        }
        if (settling.dropped() == 0) return;
        std::fprintf(stderr, "dropped %lld frame%s while the picture settled", settling.dropped(),
                     settling.dropped() == 1 ? "" : "s");
        if (settling.timedOut())
            std::fprintf(stderr, " (it had not settled after %lld frames in %.1f seconds; the latest frame was taken)",
                         settling.seen(), settling.waitedMs() / 1000);
        std::fprintf(stderr, "\n");
    }

    void StartStream() {
        VORKCamInfo active{};
        g().GetActCamInfo(active);
        devicePath_ = WatchablePath(active.szDevicePath);
        double rate = 0;
        if (g().ReadFramerate(rate) == 0) rate_ = rate;
        if (!g().StartGrabThread()) throw Failure{"continuous acquisition did not start"};
        quiet_ = std::make_unique<QuietCamera>(devicePath_, o_.timeout, rate_);
    }

    void TakeFrame(Settling& settling, BYTE* image) {
        if (settling.settled() && (used_ + 1) % o_.every != 0) {
            ++used_;  // passed over by --every: no need to read it back
            return;
        }
        if (!g().LockBufferInRing(image)) return;
        RgbImage picture;
        try {
            picture = reader_->Read(image);
        } catch (...) {
            g().ReleaseBufferInRing(image);
            throw;
        }
        g().ReleaseBufferInRing(image);
        for (const RgbImage& usable : settling.Take(std::move(picture), Since(start_) * 1000))
            if (!Done()) Use(usable);
    }

    // The camera went away: the board is closed while the device path is
    // watched, then opened again with the run's settings, which the framework
    // still holds, and the rate and controls that were in force.
    void Reconnect(const std::string& why) {
        if (!o_.continuous || o_.noReconnect) throw Failure{why, o_.continuous ? kCameraLost : kFailure};
        std::fprintf(stderr, "%s%s; %s\n", progress_ ? "\n" : "", why.c_str(),
                     DeviceAttached(devicePath_) ? "opening it again" : "waiting for it to come back");
        const auto away = Clock::now();
        g().StopGrabThread(true);  // its failed waits were the loss's
        plugin_.Close();
        while (!DeviceAttached(devicePath_)) {
            if (vork::Interrupted() || Done()) throw Failure{"the camera did not come back", kCameraLost};
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        backAt_ = Clock::now();
        plugin_.Open(o_);
        PumpMessages();
        lostSeen_ = g_reports.deviceLost;
        if (!g().IsInitialized()) throw Failure{"the camera came back but could not be opened"};
        if (rate_ > 0) g().WriteFramerate(rate_);
        if (!o_.settings.empty()) ApplySettings(g(), o_.settings, false);
        reader_ = std::make_unique<FrameReader>(g(), o_, CheckDelivery(g(), o_));
        StartStream();
        const double seconds = Since(away);
        std::fprintf(stderr, "the camera is back after %.1f s; about %.0f frames were missed\n", seconds,
                     rate_ > 0 ? seconds * rate_ : 0.0);
    }

    int Finish() {
        Report(true);
        if (vork::Interrupted()) throw Failure{"interrupted"};
        if (g_reports.deviceLost != lostSeen_) throw Failure{"the camera was lost"};
        if (starved_ && saver_.saved() == 0)
            throw Failure{"no picture could be taken: no frame within --timeout " + std::to_string(o_.timeout) + " ms"};
        if (starved_)
            throw Failure{"the camera stopped delivering: no frame within --timeout " + std::to_string(o_.timeout) + " ms"};
        if (saver_.saved() == 0) throw Failure{"no picture could be taken"};
        if (errors_)
            throw Failure{std::to_string(errors_) + (errors_ == 1 ? " frame" : " frames") + " could not be taken; " +
                          Pictures(saver_.saved()) + " saved"};
        return kSuccess;
    }

    Plugin& plugin_;
    const Options& o_;
    std::unique_ptr<FrameReader> reader_;
    Saver saver_;
    const Clock::time_point start_;
    const bool progress_;
    long long frames_ = 0;  // delivered
    long long used_ = 0;    // after settling, saved or passed over by --every
    long long errors_ = 0;
    bool starved_ = false;
    int lostSeen_ = 0;  // device-lost events handled so far
    std::wstring devicePath_;
    std::unique_ptr<QuietCamera> quiet_;
    double rate_ = 0;
    std::optional<Clock::time_point> backAt_;  // until the first frame after a return
};

}  // namespace

int SnapCommand(Plugin& plugin, const Options& o) { return SnapRun(plugin, o).Run(); }
