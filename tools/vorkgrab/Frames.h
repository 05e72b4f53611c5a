// Delivered frames read back into pictures, and pictures saved to the --out
// pattern: what snap and serve share.
#pragma once

#include <vector>

#include "ImageFile.h"
#include "Options.h"
#include "OutputPattern.h"
#include "VORKDirectShowGrabber.h"

// Reads delivered frames back into pictures. The grabber mirrors a frame in
// place as if its rows were packed at the grab rectangle's width; the same calls
// undo that exactly, so the frame is read as DirectShow delivered it: a bitmap
// of the connected format, with rows padded to 4 bytes.
class FrameReader {
public:
    // Throws Failure when the delivered format does not fit the measured frames.
    FrameReader(CVORKDirectShowGrabber& g, const Options& o, const VORKDSFrameFormat& format);
    RgbImage Read(const BYTE* frame);

private:
    void UndoGrabberMirroring();

    size_t frameBytes_ = 0;
    int rectWidth_ = 0;
    int rectHeight_ = 0;
    int grabberBytesPerPixel_ = 0;
    bool mirroredVertically_ = true;
    bool mirroredHorizontally_ = false;
    DeliveredLayout layout_;
    std::vector<uint8_t> scratch_;
};

// Saves pictures under the --out pattern's names, one after the other, making
// each one's folder as needed.
class Saver {
public:
    explicit Saver(const Options& o) : o_(o), pattern_(o.out) {}
    // The file's name; throws Failure when it cannot be written.
    std::wstring Save(const RgbImage& picture);
    // As Save, under the first numbered name from the next one on that nobody
    // holds, so pictures another run left in the folder are kept.
    std::wstring SaveUnderFreeName(const RgbImage& picture);
    long long saved() const { return saved_; }
    ImageKind kind() const { return pattern_.Kind(); }

private:
    const Options& o_;
    OutputPattern pattern_;
    long long saved_ = 0;
    long long next_ = 0;  // SaveUnderFreeName's next index
};

// When a starting camera's picture has settled. A webcam's first frames are
// dark while its exposure finds the scene, and may rise slowly, so one frame's
// step says little: the picture counts as settled when the mean level of
// kWindow frames in a row varies by at most 2% of that level (1.5 levels for a
// dark scene), and stands where it stood a few frames before (a slow rise
// varies little within the window too); frames still black (below kBlack)
// never settle. A rise slower than about an eighth of that tolerance per
// frame counts as a picture that changes, not as a rise.
// Frames of a window that settles are all kept; frames before it are dropped.
// With a fixed count, exactly that many frames are dropped.
class Settling {
public:
    static constexpr size_t kWindow = 4;
    // A picture that has not settled 3 s after the first frame, and after 30
    // frames, is taken as it is: time alone would cut a rise short on a loaded
    // machine. A slow camera is not waited for beyond 10 s.
    static constexpr double kLimitMs = 3000;
    static constexpr long long kLimitFrames = 30;
    static constexpr double kHardLimitMs = 10000;
    static constexpr double kBlack = 2.0;  // mean level of a frame before its rise

    explicit Settling(long long skip) : skip_(skip) {}
    // Takes the next frame; returns the frames that may now be used (none while
    // settling; then the kept ones and each later frame), oldest first.
    std::vector<RgbImage> Take(RgbImage frame, double elapsedMs);
    bool settled() const { return settled_; }
    bool timedOut() const { return timedOut_; }
    long long dropped() const { return dropped_; }
    long long seen() const { return seen_; }
    double waitedMs() const { return waitedMs_; }

private:
    bool Level() const;

    long long skip_;
    bool settled_ = false;
    bool timedOut_ = false;
    long long dropped_ = 0;
    long long seen_ = 0;
    double firstMs_ = -1;
    double waitedMs_ = 0;
    std::vector<RgbImage> window_;
    std::vector<double> levels_;
    std::vector<double> before_;  // levels of the frames dropped last, up to 2 * kWindow, oldest first
};
