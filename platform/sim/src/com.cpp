// COM library of the simulated platform: per-thread initialisation, the class
// registry, task memory, BSTR and VARIANT.
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include <objbase.h>

#include "vorksim/cameras.h"
#include "vorksim/com.h"

namespace {

std::atomic<long> g_liveObjects{0};
thread_local int t_comInitCount = 0;

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct ClassRegistry {
    std::mutex mutex;
    std::map<GUID, vorksim::ClassFactory, GuidLess> classes;
    static ClassRegistry& Instance() {
        static ClassRegistry* registry = new ClassRegistry;
        return *registry;
    }
};

// A BSTR carries its length in bytes in the four bytes before the text.
struct BstrHeader {
    uint32_t bytes;
};

}  // namespace

namespace vorksim {
long LiveObjectCount() { return g_liveObjects.load(); }
void CountLiveObject(int delta) { g_liveObjects += delta; }

void RegisterComClass(REFCLSID clsid, ClassFactory factory) {
    auto& r = ClassRegistry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.classes[clsid] = factory;
}

void UnregisterComClass(REFCLSID clsid) {
    auto& r = ClassRegistry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.classes.erase(clsid);
}
}  // namespace vorksim

extern "C" {

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD) { return t_comInitCount++ == 0 ? S_OK : S_FALSE; }

HRESULT WINAPI CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void WINAPI CoUninitialize(void) {
    if (t_comInitCount > 0) --t_comInitCount;
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (t_comInitCount == 0) return CO_E_NOTINITIALIZED;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    vorksim::ClassFactory factory = nullptr;
    {
        auto& r = ClassRegistry::Instance();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.classes.find(clsid);
        if (it == r.classes.end()) return REGDB_E_CLASSNOTREG;
        factory = it->second;
    }
    if (HRESULT hr = vorksim::CallFault(vorksim::CreationCall(clsid)); FAILED(hr)) return hr;
    return factory(iid, object);
}

LPVOID WINAPI CoTaskMemAlloc(size_t size) { return std::malloc(size ? size : 1); }

LPVOID WINAPI CoTaskMemRealloc(LPVOID memory, size_t size) { return std::realloc(memory, size ? size : 1); }

void WINAPI CoTaskMemFree(LPVOID memory) { std::free(memory); }

BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(BstrHeader) + (length + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    reinterpret_cast<BstrHeader*>(block)->bytes = static_cast<uint32_t>(length * sizeof(OLECHAR));
    auto* bstr = reinterpret_cast<OLECHAR*>(block + sizeof(BstrHeader));
    if (text) std::wmemcpy(bstr, text, length);
    else std::wmemset(bstr, 0, length);
    bstr[length] = 0;
    return bstr;
}

BSTR WINAPI SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

void WINAPI SysFreeString(BSTR text) {
    if (text) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(BstrHeader));
}

UINT WINAPI SysStringLen(BSTR text) {
    if (!text) return 0;
    auto* header = reinterpret_cast<BstrHeader*>(reinterpret_cast<unsigned char*>(text) - sizeof(BstrHeader));
    return header->bytes / sizeof(OLECHAR);
}

void WINAPI VariantInit(VARIANT* variant) {
    std::memset(variant, 0, sizeof(VARIANT));
    variant->vt = VT_EMPTY;
}

HRESULT WINAPI VariantClear(VARIANT* variant) {
    if (!variant) return E_INVALIDARG;
    if (variant->vt == VT_BSTR) SysFreeString(variant->bstrVal);
    if (variant->vt == VT_UNKNOWN && variant->punkVal) variant->punkVal->Release();
    std::memset(variant, 0, sizeof(VARIANT));
    variant->vt = VT_EMPTY;
    return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANT* destination, const VARIANT* source) {
    if (!destination || !source) return E_INVALIDARG;
    VariantClear(destination);
    *destination = *source;
    if (source->vt == VT_BSTR)
        destination->bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
    if (source->vt == VT_UNKNOWN && source->punkVal) source->punkVal->AddRef();
    return S_OK;
}

}  // extern "C"
