// snap: pictures from single snaps or from continuous acquisition into the ring,
// saved as a person sees the scene whatever the grabber did to the frame.
#include <chrono>
#include <cstdio>
#include <vector>

#include "Commands.h"
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

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int SnapCommand(CVORKDirectShowGrabber& g, const Options& o) {
    if (!o.settings.empty()) ApplySettings(g, o.settings, false);
    FrameReader reader(g, o, CheckDelivery(g, o));
    Saver saver(o);
    const auto start = Clock::now();
    const long long wanted = o.count * o.every;
    auto done = [&](long long frames) { return o.seconds > 0 ? Since(start) >= o.seconds : frames >= wanted; };
    const bool progress = vork::IsTerminal(stderr) && (o.continuous || o.count > 1 || o.seconds > 0);
    long long frames = 0;
    long long errors = 0;
    auto report = [&](bool last) {
        std::fprintf(stderr, "%s%lld frames, %.1f frames per second, %lld errors, %lld saved%s", progress ? "\r" : "",
                     frames, Since(start) > 0 ? static_cast<double>(frames) / Since(start) : 0.0, errors,
                     saver.saved(), last ? "\n" : "");
    };
    bool starved = false;
    if (o.continuous) {
        if (!g.StartGrabThread()) throw Failure{"continuous acquisition did not start"};
        auto lastFrame = Clock::now();
        while (!done(frames) && g_reports.deviceLost == 0 && !vork::Interrupted()) {
            PumpMessages();
            // Short waits, so that media events are handled on this thread.
            BYTE* image = g.GetLastGrabbedBufferInRingSynced(100);
            if (!image) {
                if (!g.IsGrabThreadRunning() || Since(lastFrame) * 1000 > o.timeout) {
                    starved = true;
                    break;
                }
                continue;
            }
            lastFrame = Clock::now();
            ++frames;
            if (frames % o.every == 0 && g.LockBufferInRing(image)) {
                RgbImage picture;
                try {
                    picture = reader.Read(image);
                } catch (...) {
                    g.ReleaseBufferInRing(image);
                    throw;
                }
                g.ReleaseBufferInRing(image);
                saver.Save(picture);
            }
            if (progress && frames % 10 == 0) report(false);
        }
        g.StopGrabThread(true);
        errors = g.GetGrabThreadErrors();
    } else {
        while (!done(frames) && g_reports.deviceLost == 0 && !vork::Interrupted()) {
            BYTE* image = g.SnapToAddBuffer(o.timeout);
            PumpMessages();
            if (!image) {
                ++errors;
                if (errors >= 3 && errors > frames) {
                    starved = true;  // the camera gives nothing
                    break;
                }
                continue;
            }
            ++frames;
            if (frames % o.every == 0) {
                const std::wstring name = saver.Save(reader.Read(image));
                std::printf("%s\n", Utf8(name).c_str());
            }
            if (progress) report(false);
        }
    }
    report(true);
    if (vork::Interrupted()) throw Failure{"interrupted"};
    if (g_reports.deviceLost) throw Failure{"the camera was lost"};
    if (starved && saver.saved() == 0)
        throw Failure{"no picture could be taken: no frame within --timeout " + std::to_string(o.timeout) + " ms"};
    if (starved) throw Failure{"the camera stopped delivering: no frame within --timeout " + std::to_string(o.timeout) + " ms"};
    if (saver.saved() == 0) throw Failure{"no picture could be taken"};
    return errors ? kFailure : kSuccess;
}
