// A grabber opened on any INI file: the channel settings and the grabber's
// section, every key with whatever value, then one snap and a close.
#include "FuzzSupport.h"
#include "VORKDirectShowGrabber.h"
#include "vorksim/cameras.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorkfuzz::HostSetUp();
    static const bool camera = [] {
        // Small frames: the pattern is drawn anew for every grabber.
        vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
        d.formats = {{64, 48, MEDIASUBTYPE_RGB24, 30.0}, {32, 24, MEDIASUBTYPE_RGB32, 30.0}};
        vorksim::AddCamera(d);
        return true;
    }();
    (void)camera;
    vorkfuzz::WriteFile("c.ini", data, size);
    VORKSetIniFileName(vorkfuzz::WidePath("c.ini").c_str());
    auto* g = new CVORKDirectShowGrabber(L"DSGRABBER", 0, L"DSGRABBER", true, 3);
    if (g->IsInitialized()) g->SnapToAddBuffer(500);
    g->DeInitGrabber();
    delete g;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return 0;
}
