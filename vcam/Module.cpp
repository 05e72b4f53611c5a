// The DLL's entry points: the class object of the one filter class, the unload
// check, and registration (see Registration.h).
#include <windows.h>

#include <atomic>

#include "Filter.h"
#include "Registration.h"

namespace vcam {
namespace {

std::atomic<long> g_inUse{0};
HMODULE g_module = nullptr;

class ClassFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) return Hand(this, out);
        return E_NOINTERFACE;
    }
    // One static object: its references are the module's.
    ULONG STDMETHODCALLTYPE AddRef() override {
        LockModule();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        UnlockModule();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Filter* filter = new (std::nothrow) Filter;
        if (!filter) return E_OUTOFMEMORY;
        const HRESULT hr = filter->QueryInterface(iid, out);
        filter->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) LockModule();
        else UnlockModule();
        return S_OK;
    }
};

ClassFactory g_factory;

}  // namespace

void LockModule() { ++g_inUse; }
void UnlockModule() { --g_inUse; }
bool ModuleInUse() { return g_inUse.load() != 0; }
HMODULE ModuleHandle() { return g_module; }

}  // namespace vcam

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        vcam::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, vcam::CLSID_VorkVirtualCamera)) return CLASS_E_CLASSNOTAVAILABLE;
    return vcam::g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() { return vcam::ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return vcam::RegisterDefaultCamera(); }

STDAPI DllUnregisterServer() { return vcam::UnregisterCameras(); }

// regsvr32 /n /i:"cameras.ini" vorkvcam.dll registers the cameras of a
// description file in place of those registered before; /i:"unplug:PATH" and
// /i:"plug:PATH" unplug and return a camera; regsvr32 /u /i:... removes them all.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    if (!install) return vcam::UnregisterCameras();
    return vcam::Install(commandLine ? commandLine : L"");
}

}  // extern "C"
