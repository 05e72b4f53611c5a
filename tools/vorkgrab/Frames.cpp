#include "Frames.h"

#include <algorithm>
#include <filesystem>
#include <numeric>

#include "Errors.h"
#include "Mirror.h"
#include "Session.h"
#include "vork/fspath.h"
#include "vork/host.h"
#include "vork/utf8.h"

using vork::Utf8;

FrameReader::FrameReader(CVORKDirectShowGrabber& g, const Options& o, const VORKDSFrameFormat& format) {
    // The grabber measures it from the first frame, waiting 5 s for one after the start.
    if (format.frameBytes <= 0)
        throw Failure{"the grabber could not measure the frame size (the camera gave no frame within 5 s of its "
                      "start, or the measurement failed)"};
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

RgbImage FrameReader::Read(const BYTE* frame) {
    scratch_.assign(frame, frame + frameBytes_);
    UndoGrabberMirroring();
    RgbImage rgb;
    if (!ToViewable(scratch_.data(), scratch_.size(), layout_, rgb)) throw Failure{"the delivered image has no usable size"};
    return rgb;
}

void FrameReader::UndoGrabberMirroring() {
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

namespace {

void MakeFolderOf(const std::wstring& name) {
    namespace fs = std::filesystem;
    const fs::path folder = vork::FilePath(name).parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (!fs::is_directory(folder, ec))
            throw Failure{"cannot create the output folder " + Utf8(vork::WidePath(folder))};
    }
}

}  // namespace

std::wstring Saver::Save(const RgbImage& picture) {
    const std::wstring name = pattern_.Name(saved_);
    MakeFolderOf(name);
    std::wstring error;
    if (!vork::WriteFileWhole(name, Encode(picture, pattern_.Kind(), o_.quality), o_.force, &error))
        throw Failure{Utf8(error)};
    ++saved_;
    return name;
}

std::wstring Saver::SaveUnderFreeName(const RgbImage& picture) {
    if (o_.force || !pattern_.Numbered()) return Save(picture);
    const std::vector<uint8_t> bytes = Encode(picture, pattern_.Kind(), o_.quality);
    // Bounded, so a folder full of names ends in a message, not a long walk.
    for (int tries = 0; tries < 10000; ++tries, ++next_) {
        const std::wstring name = pattern_.Name(next_);
        const vork::PathKind kind = vork::KindOf(name);
        if (kind == vork::PathKind::Inaccessible) throw Failure{Utf8(name) + " cannot be looked at"};
        if (kind != vork::PathKind::Missing) continue;
        MakeFolderOf(name);
        std::wstring error;
        // Written without replacing: a name taken meanwhile fails and the next is tried.
        if (vork::WriteFileWhole(name, bytes, false, &error)) {
            ++saved_;
            ++next_;
            return name;
        }
        if (vork::KindOf(name) == vork::PathKind::Missing) throw Failure{Utf8(error)};
    }
    throw Failure{"no free name for the picture: the next 10000 names of --out are taken"};
}

namespace {

double MeanLevel(const RgbImage& picture) {
    // Every 7th byte: all three channels in turn, and no stripe of the picture.
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < picture.rgb.size(); i += 7, ++n) sum += picture.rgb[i];
    return n ? sum / static_cast<double>(n) : 0.0;
}

}  // namespace

bool Settling::Level() const {
    const auto [low, high] = std::minmax_element(levels_.begin(), levels_.end());
    const double tolerance = std::max(1.5, 0.02 * *high);
    if (*high - *low > tolerance || *low < kBlack) return false;
    const auto mean = [](auto begin, auto end) { return std::accumulate(begin, end, 0.0) / static_cast<double>(end - begin); };
    const size_t half = levels_.size() / 2;
    if (mean(levels_.begin() + half, levels_.end()) - mean(levels_.begin(), levels_.begin() + half) > tolerance / 2)
        return false;  // rising within the window
    return before_.size() < kWindow ||
           mean(levels_.begin(), levels_.end()) - mean(before_.begin(), before_.begin() + kWindow) <= tolerance / 2;
}

std::vector<RgbImage> Settling::Take(RgbImage frame, double elapsedMs) {
    std::vector<RgbImage> usable;
    if (settled_) {
        usable.push_back(std::move(frame));
        return usable;
    }
    if (skip_ >= 0) {
        if (dropped_ < skip_) {
            ++dropped_;
            return usable;
        }
        settled_ = true;
        usable.push_back(std::move(frame));
        return usable;
    }
    if (firstMs_ < 0) firstMs_ = elapsedMs;
    waitedMs_ = elapsedMs - firstMs_;
    ++seen_;
    levels_.push_back(MeanLevel(frame));
    window_.push_back(std::move(frame));
    if (window_.size() > kWindow) {
        window_.erase(window_.begin());
        before_.push_back(levels_.front());
        if (before_.size() > 2 * kWindow) before_.erase(before_.begin());
        levels_.erase(levels_.begin());
        ++dropped_;
    }
    if (window_.size() == kWindow && Level()) {
        settled_ = true;
        usable.swap(window_);
    } else if ((waitedMs_ >= kLimitMs && seen_ >= kLimitFrames) || waitedMs_ >= kHardLimitMs) {
        settled_ = timedOut_ = true;
        dropped_ += static_cast<long long>(window_.size()) - 1;
        usable.push_back(std::move(window_.back()));
        window_.clear();
    }
    return usable;
}
