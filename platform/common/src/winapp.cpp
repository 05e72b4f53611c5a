#include "vork/winapp.h"

namespace {
// One application object per module; this file is linked into that module only.
CWinApp* g_moduleApp = nullptr;
HINSTANCE g_moduleInstance = nullptr;
}  // namespace

CWinApp::CWinApp(LPCWSTR appName) : m_pszAppName(appName) { g_moduleApp = this; }

CWinApp::~CWinApp() {
    if (g_moduleApp == this) g_moduleApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

HINSTANCE AfxGetInstanceHandle() { return g_moduleInstance; }

extern "C" VORK_ENTRY_POINT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_moduleInstance = instance;
        if (!g_moduleApp) return TRUE;
        g_moduleApp->m_hInstance = instance;
        return g_moduleApp->InitInstance() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        if (g_moduleApp) g_moduleApp->ExitInstance();
        g_moduleInstance = nullptr;
        return TRUE;
    default:
        return TRUE;
    }
}
