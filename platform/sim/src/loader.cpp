// Module loading of the simulated platform: LoadLibraryW opens a shared library
// and, the first time, calls its DllMain with DLL_PROCESS_ATTACH; the last
// FreeLibrary calls it with DLL_PROCESS_DETACH before closing the library.
#include <dlfcn.h>

#include <map>
#include <mutex>

#include <windows.h>

#include "vorksim/text.h"

namespace {

using DllMainFn = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

struct Module {
    void* handle = nullptr;
    int loads = 0;
};

std::mutex g_loaderMutex;
std::map<void*, Module>& Modules() {
    static auto* modules = new std::map<void*, Module>;
    return *modules;
}

DllMainFn EntryOf(void* handle) { return reinterpret_cast<DllMainFn>(dlsym(handle, "DllMain")); }

}  // namespace

extern "C" {

HMODULE WINAPI LoadLibraryW(LPCWSTR fileName) {
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_loaderMutex);
    void* handle = dlopen(vorksim::ToUtf8(fileName).c_str(), RTLD_NOW);
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    Module& module = Modules()[handle];
    module.handle = handle;
    if (module.loads++ == 0) {
        DllMainFn entry = EntryOf(handle);
        if (entry && !entry(reinterpret_cast<HINSTANCE>(handle), DLL_PROCESS_ATTACH, nullptr)) {
            entry(reinterpret_cast<HINSTANCE>(handle), DLL_PROCESS_DETACH, nullptr);
            Modules().erase(handle);
            dlclose(handle);
            SetLastError(ERROR_DLL_INIT_FAILED);
            return nullptr;
        }
    } else {
        dlclose(handle);  // one dlopen reference per module is enough
    }
    return reinterpret_cast<HMODULE>(handle);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    std::lock_guard<std::mutex> lock(g_loaderMutex);
    auto it = Modules().find(module);
    if (it == Modules().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (--it->second.loads > 0) return TRUE;
    void* handle = it->second.handle;
    Modules().erase(it);
    if (DllMainFn entry = EntryOf(handle)) entry(reinterpret_cast<HINSTANCE>(handle), DLL_PROCESS_DETACH, nullptr);
    dlclose(handle);
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    void* symbol = dlsym(module, procName);
    if (!symbol) SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(symbol);
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    if (!fileName || size == 0) return 0;
    Dl_info info{};
    void* symbol = module ? dlsym(module, "DllMain") : nullptr;
    std::wstring path;
    if (symbol && dladdr(symbol, &info) && info.dli_fname) path = vorksim::FromUtf8(info.dli_fname);
    size_t n = std::min<size_t>(path.size(), size - 1);
    std::wmemcpy(fileName, path.data(), n);
    fileName[n] = 0;
    return static_cast<DWORD>(n);
}

}  // extern "C"
