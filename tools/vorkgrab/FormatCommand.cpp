// format: what the grabber receives and what the camera sends; with --color-mode,
// --size and --fps, what was applied, read back from the graph, and kept in the
// INI file as the next run gets it.
#include <cmath>
#include <cstdio>

#include "Commands.h"
#include "Errors.h"
#include "Session.h"
#include "vork/host.h"
#include "vork/utf8.h"

namespace {

// "15", "29.97": a plain decimal, as the channel's DefFramerate is read.
std::wstring RateText(double fps) {
    wchar_t text[48];
    std::swprintf(text, 48, L"%.6f", fps);
    std::wstring s = text;
    while (!s.empty() && s.back() == L'0') s.pop_back();
    if (!s.empty() && s.back() == L'.') s.pop_back();
    return s;
}

// The rate is the camera's own for the format it now sends: it needs no
// DefFramerate, which would be applied to the camera's first format when the
// board opens, before the colour mode and size choose this one, and could pin a
// format that a camera without a converter in its graph cannot leave.
bool IsOwnRate(CVORKDirectShowGrabber& g, double fps) {
    VORKDSFrameFormat f{};
    if (g.ReadFrameFormat(f) != 0) return false;
    constexpr int kShown = 64;
    VORKDSOfferedFormat offered[kShown];
    int count = kShown;
    if (g.ReadOfferedFormats(offered, count) != 0) return false;
    const LONG height = f.sourceHeight < 0 ? -f.sourceHeight : f.sourceHeight;
    for (int i = 0; i < count && i < kShown; ++i) {
        const VORKDSOfferedFormat& o = offered[i];
        if (o.width == f.sourceWidth && (o.height == height || o.height == -height) &&
            IsEqualGUID(o.subtype, f.sourceSubtype))
            return std::fabs(o.framesPerSecond - fps) <= fps * 1e-3;
    }
    return false;
}

void Print(CVORKDirectShowGrabber& g, const VORKDSFrameFormat& f) {
    const int mode = ModeOfSubtype(f.subtype);
    std::printf("color mode  %d (%s)\n", mode, ModeName(mode));
    std::printf("size        %ldx%ld\n", static_cast<long>(f.width), static_cast<long>(f.height < 0 ? -f.height : f.height));
    double fps = 0;
    if (g.ReadFramerate(fps) == 0) std::printf("frame rate  %.3f\n", fps);
    else std::printf("frame rate  unknown\n");
    std::printf("camera      %ldx%ld %s", static_cast<long>(f.sourceWidth),
                static_cast<long>(f.sourceHeight < 0 ? -f.sourceHeight : f.sourceHeight), SubtypeName(f.sourceSubtype));
    if (f.sourceFramesPerSecond > 0) std::printf(" at %.3f frames per second", f.sourceFramesPerSecond);
    std::printf("\n");
}

}  // namespace

int FormatCommand(Plugin& plugin, const Options& o) {
    const VORKDSFrameFormat opened = CheckDelivery(plugin.grabber(), o);
    if (!o.colorMode && !o.size && !o.fps) {
        Print(plugin.grabber(), opened);
        return kSuccess;
    }
    if (o.fps) CheckRate(plugin.grabber(), *o.fps, plugin.grabber().WriteFramerate(*o.fps), "was not applied");
    // Kept as the next run gets them: written, the board opened again from the
    // file, and checked once more; the file is put back on any failure.
    IniEdit edit(o);
    if (o.colorMode) edit.Write(L"ColorMode", *o.colorMode);
    if (o.size) {
        edit.Write(L"GrabWidth", o.size->first);
        edit.Write(L"GrabHeight", o.size->second);
    }
    if (o.fps && IsOwnRate(plugin.grabber(), *o.fps)) edit.Remove(ChannelSection(o), L"DefFramerate");
    else if (o.fps) edit.Write(ChannelSection(o), L"DefFramerate", RateText(*o.fps));
    plugin.Reopen(o);
    PumpMessages();
    if (!plugin.MissingCamera().empty())
        throw Failure{"the camera of " + vork::Utf8(IniName(o)) + " (" + plugin.MissingCamera() + ") went away; the file was left as it was"};
    CVORKDirectShowGrabber& g = plugin.grabber();
    if (!g.IsInitialized()) throw Failure{"the camera could not be opened again with the new format"};
    const VORKDSFrameFormat f = CheckDelivery(g, o);
    if (o.fps) CheckRate(g, *o.fps, 0, "is not kept when the camera opens again");
    if (vork::Interrupted()) throw Failure{"interrupted"};  // the file is put back
    edit.Keep();
    Print(g, f);
    return kSuccess;
}
