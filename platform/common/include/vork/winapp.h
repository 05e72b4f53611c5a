// The application object of a plug-in module: constructed with the module's static
// objects, InitInstance run at process attach and ExitInstance at process detach,
// both from the module's DllMain (winapp.cpp, linked into the module).
#pragma once

#include "vorkplatform_base.h"

class CWinApp {
public:
    explicit CWinApp(LPCWSTR appName = nullptr);
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    LPCWSTR m_pszAppName;
    HINSTANCE m_hInstance = nullptr;
};

// The instance handle of the module this code is linked into (null before attach).
HINSTANCE AfxGetInstanceHandle();
