#include "Registration.h"

#include <dshow.h>

#include <cstdio>
#include <vector>

#include "Com.h"
#include "Filter.h"
#include "vork/cameradescription.h"
#include "vork/comptr.h"

namespace vcam {
namespace {

const wchar_t kClassName[] = L"VORK Virtual Camera";

// COM for the length of a registration call; regsvr32 may or may not have started it.
struct ComScope {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComScope() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

void Complain(const std::wstring& message) {
    std::fwprintf(stderr, L"vorkvcam: %ls\n", message.c_str());
    std::fflush(stderr);
}

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    const LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

// HKCR\CLSID\{class}\InprocServer32 names this DLL.
HRESULT RegisterServer() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(ModuleHandle(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    const std::wstring classKey = L"CLSID\\" + GuidText(CLSID_VorkVirtualCamera);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, classKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    HRESULT hr = SetString(key, nullptr, kClassName);
    HKEY server = nullptr;
    if (SUCCEEDED(hr) &&
        RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr) == ERROR_SUCCESS) {
        hr = SetString(server, nullptr, path);
        if (SUCCEEDED(hr)) hr = SetString(server, L"ThreadingModel", L"Both");
        RegCloseKey(server);
    } else if (SUCCEEDED(hr)) {
        hr = SELFREG_E_CLASS;
    }
    RegCloseKey(key);
    return hr;
}

HRESULT WriteBag(IPropertyBag* bag, const wchar_t* name, const std::wstring& value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value.c_str());
    if (!v.bstrVal) return E_OUTOFMEMORY;
    const HRESULT hr = bag->Write(name, &v);
    VariantClear(&v);
    return hr;
}

std::wstring InstanceName(size_t index) {
    wchar_t name[32];
    std::swprintf(name, 32, L"vorkvcam-%03u", static_cast<unsigned>(index));
    return name;
}

// One camera in the video input category, its description in its property bag.
HRESULT RegisterCamera(IFilterMapper2* mapper, const vork::DescribedCamera& camera, size_t index) {
    REGPINTYPES type = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
    REGFILTERPINS2 pin{};
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.cInstances = 1;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &type;
    pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
    REGFILTER2 filter{};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins2 = 1;
    filter.rgPins2 = &pin;
    const std::wstring name = camera.friendlyName.value_or(camera.section);
    const std::wstring instance = InstanceName(index);
    CComPtr<IMoniker> moniker;
    HRESULT hr = mapper->RegisterFilter(CLSID_VorkVirtualCamera, name.c_str(), &moniker,
                                        &CLSID_VideoInputDeviceCategory, instance.c_str(), &filter);
    if (FAILED(hr)) return hr;
    if (!moniker) return E_UNEXPECTED;
    CComPtr<IPropertyBag> bag;
    hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag));
    if (FAILED(hr)) return hr;
    if (camera.devicePath && FAILED(hr = WriteBag(bag, L"DevicePath", *camera.devicePath))) return hr;
    const auto& formats = camera.formats.empty() ? PaintableDefaults() : camera.formats;
    if (FAILED(hr = WriteBag(bag, L"Formats", vork::FormatsText(formats)))) return hr;
    if (FAILED(hr = WriteBag(bag, L"FrameRate", camera.unthrottled ? L"max" : L"format"))) return hr;
    if (FAILED(hr = WriteBag(bag, L"ProcAmp", camera.hasProcAmp ? L"1" : L"0"))) return hr;
    if (FAILED(hr = WriteBag(bag, L"CameraControl", camera.hasCameraControl ? L"1" : L"0"))) return hr;
    return WriteBag(bag, L"StreamConfig", camera.hasStreamConfig ? L"1" : L"0");
}

HRESULT RegisterCameras(const std::vector<vork::DescribedCamera>& cameras) {
    ComScope com;
    if (HRESULT hr = UnregisterCameras(); FAILED(hr)) return hr;
    if (HRESULT hr = RegisterServer(); FAILED(hr)) return hr;
    CComPtr<IFilterMapper2> mapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&mapper));
    if (FAILED(hr)) return hr;
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (FAILED(hr = RegisterCamera(mapper, cameras[i], i))) {
            Complain(L"[" + vork::Shown(cameras[i].section) + L"]: the registration failed");
            UnregisterCameras();
            return hr;
        }
    }
    return S_OK;
}

// A whole file of at most 16 MB, longer than any description.
bool ReadBytes(HANDLE file, std::string& bytes) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > (16 << 20)) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return bytes.empty() || (ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) && got == bytes.size());
}

// The file as text: UTF-8, with or without a byte-order mark.
bool ReadText(const std::wstring& path, std::wstring& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes;
    const bool read = ReadBytes(file, bytes);
    CloseHandle(file);
    if (!read) return false;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    if (bytes.empty()) return true;
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return false;
    text.assign(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    return true;
}

// What the simulation describes but this filter cannot be: formats other than
// RGB, and failures of the moniker, which belong to the simulated platform.
bool Paintable(const std::wstring& path, const std::vector<vork::DescribedCamera>& cameras) {
    for (const vork::DescribedCamera& c : cameras) {
        const std::wstring where = path + L": [" + vork::Shown(c.section) + L"] ";
        for (const vork::VideoFormat& f : c.formats) {
            if (CanPaint(f.subtype)) continue;
            const wchar_t* name = vork::SubtypeName(f.subtype);
            Complain(where + L"Formats: this camera makes RGB frames only, not " + (name ? name : L"?"));
            return false;
        }
        if (!c.propertyBagWorks || !c.bindWorks) {
            Complain(where + (c.bindWorks ? L"PropertyBag" : L"Bind") + L": only the simulated platform can fail a moniker");
            return false;
        }
    }
    return true;
}

std::wstring Unquoted(std::wstring text) {
    while (!text.empty() && (text.front() == L' ' || text.front() == L'"')) text.erase(0, 1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'"')) text.pop_back();
    return text;
}

}  // namespace

HRESULT RegisterDefaultCamera() {
    vork::DescribedCamera camera;
    camera.section = L"default";
    camera.friendlyName = vork::kDefaultFriendlyName;
    camera.devicePath = vork::kDefaultDevicePath;
    return RegisterCameras({camera});
}

HRESULT RegisterDescribedCameras(const std::wstring& commandLine) {
    const std::wstring path = Unquoted(commandLine);
    if (path.empty()) {
        Complain(L"no camera description file given (regsvr32 /i:\"cameras.ini\" vorkvcam.dll)");
        return E_INVALIDARG;
    }
    std::wstring text, error;
    if (!ReadText(path, text)) {
        Complain(path + L": cannot be read");
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    std::vector<vork::DescribedCamera> cameras;
    if (!vork::ParseCameraDescriptions(text, path, cameras, error)) {
        Complain(error);
        return E_INVALIDARG;
    }
    if (!Paintable(path, cameras)) return E_INVALIDARG;
    return RegisterCameras(cameras);
}

HRESULT UnregisterCameras() {
    ComScope com;
    // Find this class's cameras first, then remove them: not while enumerating.
    std::vector<std::wstring> instances;
    CComPtr<ICreateDevEnum> devices;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(&devices));
    if (FAILED(hr)) return hr;
    CComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK) {
        const std::wstring ours = GuidText(CLSID_VorkVirtualCamera);
        CComPtr<IMoniker> moniker;
        while (monikers->Next(1, &moniker, nullptr) == S_OK) {
            CComPtr<IPropertyBag> bag;
            VARIANT clsid;
            VariantInit(&clsid);
            LPOLESTR display = nullptr;
            if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag))) &&
                SUCCEEDED(bag->Read(L"CLSID", &clsid, nullptr)) && clsid.vt == VT_BSTR && clsid.bstrVal &&
                _wcsicmp(clsid.bstrVal, ours.c_str()) == 0 && SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &display))) {
                const std::wstring name = display;
                instances.push_back(name.substr(name.find_last_of(L'\\') + 1));
            }
            if (display) CoTaskMemFree(display);
            VariantClear(&clsid);
            moniker.Release();
        }
    }
    CComPtr<IFilterMapper2> mapper;
    if (!instances.empty()) {
        hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                              reinterpret_cast<void**>(&mapper));
        if (FAILED(hr)) return hr;
    }
    for (const std::wstring& instance : instances)
        if (FAILED(hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, instance.c_str(), CLSID_VorkVirtualCamera)))
            return hr;
    const std::wstring classKey = L"CLSID\\" + GuidText(CLSID_VorkVirtualCamera);
    const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

}  // namespace vcam
