// The plug-in module: its exported entry points and its application object.
#pragma once

#include "vorkplatform.h"

#include "VORKDirectShowGrabber.h"

class CVORKDirectShowGrabberApp : public CWinApp {
public:
    CVORKDirectShowGrabberApp();
    BOOL InitInstance() override;
    int ExitInstance() override;
};

extern "C" {
VORKDSG_API bool InitDll(const wchar_t* name, int number);
VORKDSG_API bool DeInitDll();
}

// The window class of the grabbers' hidden media-event windows.
extern const wchar_t kMediaEventWindowClass[];
