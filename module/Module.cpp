#include "Module.h"

#include "Text.h"

const wchar_t kMediaEventWindowClass[] = L"IMediaEventDummyWndClass";

namespace {
const wchar_t kDefaultGrabberName[] = L"DSGRABBER";
const wchar_t kGrabberType[] = L"DSGRABBER";
constexpr unsigned int kRingSize = 3;
}  // namespace

CVORKDirectShowGrabberApp theApp;

CVORKDirectShowGrabberApp::CVORKDirectShowGrabberApp() : CWinApp(nullptr) {}

BOOL CVORKDirectShowGrabberApp::InitInstance() {
    CWinApp::InitInstance();
    WNDCLASSW wc{};
    wc.style = CS_NOCLOSE;
    wc.lpfnWndProc = CVORKDirectShowGrabber::VideoWndProcedureGlobal;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = AfxGetInstanceHandle();
    wc.hIcon = nullptr;
    wc.hCursor = nullptr;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kMediaEventWindowClass;
    // A failed registration only leaves the grabbers without media-event windows.
    RegisterClassW(&wc);
    CVORKDirectShowGrabber::m_hInstance = AfxGetInstanceHandle();
    return TRUE;
}

int CVORKDirectShowGrabberApp::ExitInstance() {
    UnregisterClassW(kMediaEventWindowClass, AfxGetInstanceHandle());
    return CWinApp::ExitInstance();
}

extern "C" VORKDSG_API bool InitDll(const wchar_t* name, int number) {
    CVORKGrabberContainer* container = GetGrabberContainer();
    if (!container) return false;
    // Names of 256 characters or more are cut to the framework's 255.
    wchar_t grabberName[256];
    VORKCopy(grabberName, name ? name : kDefaultGrabberName);
    if (number < 0) number = 0;
    auto* grabber = new CVORKDirectShowGrabber(grabberName, number, kGrabberType, true, kRingSize);
    container->AddGrabber(grabber);
    return true;
}

extern "C" VORKDSG_API bool DeInitDll() {
    CVORKGrabberContainer* container = GetGrabberContainer();
    if (!container) return false;
    for (int i = 0; i < container->GetGrabberCount(); ++i) {
        auto* grabber = dynamic_cast<CVORKDirectShowGrabber*>(container->GetGrabber(i));
        if (!grabber) continue;
        grabber->DeInitGrabber();
        container->RemoveGrabber(grabber);
        delete grabber;
        return true;
    }
    return true;
}
