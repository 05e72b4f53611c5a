// format: what the grabber receives and what the camera sends; with --color-mode,
// --size and --fps, what was applied, read back from the graph.
#include <cmath>
#include <cstdio>

#include "Commands.h"
#include "Errors.h"
#include "Session.h"

namespace {

void CheckRate(CVORKDirectShowGrabber& g, double asked) {
    const int written = g.WriteFramerate(asked);
    double now = 0;
    const int read = g.ReadFramerate(now);
    // The rate travels as a whole count of 100 ns per frame, so it comes back
    // only nearly as asked.
    if (written == 0 && read == 0 && std::fabs(now - asked) <= asked * 1e-3) return;
    char text[160];
    if (read == 0)
        std::snprintf(text, sizeof(text), "--fps %g was not applied: the camera runs at %.3f frames per second", asked,
                      now);
    else
        std::snprintf(text, sizeof(text), "--fps %g was not applied (result %d), and the rate cannot be read back",
                      asked, written);
    throw Failure{std::string(text) + "; it offers " + OfferedFormats(g)};
}

}  // namespace

int FormatCommand(CVORKDirectShowGrabber& g, const Options& o) {
    VORKDSFrameFormat f = CheckDelivery(g, o);
    if (o.fps) {
        CheckRate(g, *o.fps);
        g.ReadFrameFormat(f);
    }
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
    return kSuccess;
}
