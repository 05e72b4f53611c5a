// snap: pictures from single snaps or from continuous acquisition into the ring,
// saved as a person sees the scene whatever the grabber did to the frame.
#include <chrono>
#include <cstdio>
#include <vector>

#include "Commands.h"
#include "Errors.h"
#include "ImageFile.h"
#include "Mirror.h"
#include "OutputPattern.h"
#include "Session.h"
#include "vork/host.h"
#include "vork/utf8.h"

using vork::Utf8;

namespace {

// Reads delivered frames back into pictures. The grabber mirrors a frame in
// place as if its rows were packed at the grab rectangle's width; the same calls
// undo that exactly, so the frame is read as DirectShow delivered it: a bitmap
// of the connected format, with rows padded to 4 bytes.
class FrameReader {
public:
    FrameReader(CVORKDirectShowGrabber& g, const Options& o, const VORKDSFrameFormat& format) {
        if (format.frameBytes <= 0) throw Failure{"the grabber has not measured its frame size"};
        frameBytes_ = static_cast<size_t>(format.frameBytes);
        int x = 0, y = 0;
        g.GetGrabRect(x, y, rectWidth_, rectHeight_, -1);
        grabberBytesPerPixel_ = g.GetBytesPerPixel();
        mirroredVertically_ = ChannelInt(o, L"MirrorImgVerticalInPlace", 1) != 0;
        mirroredHorizontally_ = ChannelInt(o, L"MirrorImgHorizontalInPlace", 0) != 0;
        layout_.mode = static_cast<VORKColorMode>(ModeOfSubtype(format.subtype));
        layout_.width = format.width;
        layout_.height = format.height < 0 ? -format.height : format.height;
        layout_.bytesPerPixel = format.bitCount / 8;
        layout_.stride = static_cast<size_t>(format.stride);
        layout_.topRowFirst = format.height < 0;
        const size_t needed = layout_.stride * static_cast<size_t>(layout_.height);
        if (layout_.height <= 0 || layout_.width <= 0 || needed > frameBytes_)
            throw Failure{"the delivered frame of " + std::to_string(frameBytes_) + " bytes does not hold its format " +
                          std::to_string(layout_.width) + "x" + std::to_string(layout_.height) + " " +
                          SubtypeName(format.subtype)};
    }

    RgbImage Read(const BYTE* frame) {
        scratch_.assign(frame, frame + frameBytes_);
        UndoGrabberMirroring();
        RgbImage rgb;
        if (!ToViewable(scratch_.data(), scratch_.size(), layout_, rgb))
            throw Failure{"the delivered image has no usable size"};
        return rgb;
    }

private:
    void UndoGrabberMirroring() {
        if (rectWidth_ <= 0 || rectHeight_ <= 0 || grabberBytesPerPixel_ <= 0) return;
        const size_t row = static_cast<size_t>(rectWidth_) * static_cast<size_t>(grabberBytesPerPixel_);
        const auto rows = static_cast<unsigned>(std::min(static_cast<size_t>(rectHeight_), frameBytes_ / row));
        if (rows == 0) return;
        if (mirroredHorizontally_)
            MirrorImageHorizontal(scratch_.data(), static_cast<unsigned>(rectWidth_), rows,
                                  static_cast<unsigned>(grabberBytesPerPixel_));
        if (mirroredVertically_)
            MirrorImageVertical(scratch_.data(), static_cast<unsigned>(rectWidth_), rows,
                                static_cast<unsigned>(grabberBytesPerPixel_));
    }

    size_t frameBytes_ = 0;
    int rectWidth_ = 0;
    int rectHeight_ = 0;
    int grabberBytesPerPixel_ = 0;
    bool mirroredVertically_ = true;
    bool mirroredHorizontally_ = false;
    DeliveredLayout layout_;
    std::vector<uint8_t> scratch_;
};

class Saver {
public:
    Saver(const Options& o) : o_(o), pattern_(o.out) {}

    void Save(const RgbImage& picture) {
        const std::wstring name = pattern_.Name(saved_);
        MakeFolderFor(name);
        std::wstring error;
        if (!vork::WriteFileWhole(name, Encode(picture, pattern_.Kind(), o_.quality), o_.force, &error))
            throw Failure{Utf8(error)};
        ++saved_;
        if (!o_.continuous) std::printf("%s\n", Utf8(name).c_str());
    }
    long long saved() const { return saved_; }

private:
    // Every file's folder is made as the first one's is.
    static void MakeFolderFor(const std::wstring& name) {
        namespace fs = std::filesystem;
        const fs::path folder = vork::FsPath(name).parent_path();
        if (folder.empty()) return;
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (!fs::is_directory(folder, ec))
            throw Failure{"cannot create the output folder " + Utf8(vork::WidePath(folder))};
    }

    const Options& o_;
    OutputPattern pattern_;
    long long saved_ = 0;
};

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
            if (frames % o.every == 0) saver.Save(reader.Read(image));
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
