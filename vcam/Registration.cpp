#include "Registration.h"

#include <dshow.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
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

std::wstring Flag(bool on) { return on ? L"1" : L"0"; }

// The camera's description as the bag keeps it, key by key.
std::vector<std::pair<const wchar_t*, std::wstring>> BagValues(const vork::DescribedCamera& camera) {
    std::vector<std::pair<const wchar_t*, std::wstring>> values;
    if (camera.devicePath) values.emplace_back(L"DevicePath", *camera.devicePath);
    values.emplace_back(L"Formats", vork::FormatsText(camera.formats.empty() ? PaintableDefaults() : camera.formats));
    values.emplace_back(L"FrameRate", camera.unthrottled ? L"max" : L"format");
    values.emplace_back(L"ProcAmp", Flag(camera.hasProcAmp));
    values.emplace_back(L"CameraControl", Flag(camera.hasCameraControl));
    values.emplace_back(L"StreamConfig", Flag(camera.hasStreamConfig));
    values.emplace_back(L"StartDelay", std::to_wstring(camera.startDelayMs));
    values.emplace_back(L"DarkFrames", std::to_wstring(camera.darkFrames));
    values.emplace_back(L"DropEvery", std::to_wstring(camera.dropEvery));
    if (camera.unplugAfterMs)
        values.emplace_back(L"Unplug", std::to_wstring(*camera.unplugAfterMs) +
                                           (camera.unplugBackMs ? L"/" + std::to_wstring(*camera.unplugBackMs) : L""));
    values.emplace_back(L"VideoInfo2", Flag(camera.videoInfo2));
    values.emplace_back(L"Busy", Flag(camera.busy));
    values.emplace_back(L"TopDown", Flag(camera.topDown));
    return values;
}

// One camera in the video input category, its description in its property bag.
HRESULT RegisterCamera(IFilterMapper2* mapper, const vork::DescribedCamera& camera, const std::wstring& instance) {
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
    CComPtr<IMoniker> moniker;
    HRESULT hr = mapper->RegisterFilter(CLSID_VorkVirtualCamera, name.c_str(), &moniker,
                                        &CLSID_VideoInputDeviceCategory, instance.c_str(), &filter);
    if (FAILED(hr)) return hr;
    if (!moniker) return E_UNEXPECTED;
    CComPtr<IPropertyBag> bag;
    hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag));
    if (FAILED(hr)) return hr;
    for (const auto& [key, value] : BagValues(camera))
        if (FAILED(hr = WriteBag(bag, key, value))) return hr;
    return WriteBag(bag, kInstanceKey, instance);
}

CComPtr<IFilterMapper2> Mapper(HRESULT& hr) {
    CComPtr<IFilterMapper2> mapper;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          reinterpret_cast<void**>(&mapper));
    return mapper;
}

// A registered camera of this class: its instance, and its description as a
// description file's section.
struct OurCamera {
    std::wstring instance;
    std::wstring description;
};

HRESULT FindOurCameras(std::vector<OurCamera>& found) {
    CComPtr<ICreateDevEnum> devices;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(&devices));
    if (FAILED(hr)) return hr;
    CComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK) return S_OK;
    const std::wstring ours = GuidText(CLSID_VorkVirtualCamera);
    CComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        CComPtr<IPropertyBag> bag;
        std::wstring clsid;
        LPOLESTR display = nullptr;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag))) &&
            ReadBag(bag, L"CLSID", clsid) && _wcsicmp(clsid.c_str(), ours.c_str()) == 0 &&
            SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &display))) {
            const std::wstring name = display;
            found.push_back({name.substr(name.find_last_of(L'\\') + 1), DescriptionOf(bag)});
        }
        if (display) CoTaskMemFree(display);
        moniker.Release();
    }
    return S_OK;
}

// The one camera of a description section.
bool ParseOne(const std::wstring& description, vork::DescribedCamera& camera) {
    std::vector<vork::DescribedCamera> cameras;
    std::wstring error;
    if (!vork::ParseCameraDescriptions(description, L"registry", cameras, error) || cameras.size() != 1) return false;
    camera = cameras.front();
    return true;
}

bool HasDevicePath(const std::wstring& description, const std::wstring& path) {
    vork::DescribedCamera camera;
    return ParseOne(description, camera) && camera.devicePath == path;
}

// The unplugged cameras: instance and description.
std::vector<OurCamera> UnpluggedCameras() {
    std::vector<OurCamera> found;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUnpluggedKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return found;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0, bytes = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) break;
        std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        nameLength = 256;
        if (type != REG_SZ || RegEnumValueW(key, i, name, &nameLength, nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
            continue;
        data.resize(wcsnlen(data.c_str(), data.size()));
        found.push_back({name, data});
    }
    RegCloseKey(key);
    return found;
}

HRESULT RegisterCameras(const std::vector<vork::DescribedCamera>& cameras) {
    ComScope com;
    if (HRESULT hr = UnregisterCameras(); FAILED(hr)) return hr;
    if (HRESULT hr = RegisterServer(); FAILED(hr)) return hr;
    HRESULT hr;
    CComPtr<IFilterMapper2> mapper = Mapper(hr);
    if (FAILED(hr)) return hr;
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (FAILED(hr = RegisterCamera(mapper, cameras[i], InstanceName(i)))) {
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

bool ReadBag(IPropertyBag* bag, const wchar_t* name, std::wstring& value) {
    VARIANT v;
    VariantInit(&v);
    const bool read = SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR && v.bstrVal;
    if (read) value = v.bstrVal;
    VariantClear(&v);
    return read;
}

std::wstring DescriptionOf(IPropertyBag* bag) {
    std::wstring text = L"[camera]\n";
    for (const wchar_t* key : kDescriptionKeys) {
        std::wstring value;
        if (ReadBag(bag, key, value)) text += std::wstring(key) + L"=" + value + L"\n";
    }
    return text;
}


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
    std::vector<OurCamera> cameras;
    HRESULT hr = FindOurCameras(cameras);
    if (FAILED(hr)) return hr;
    CComPtr<IFilterMapper2> mapper = Mapper(hr);
    if (!cameras.empty() && !mapper) return hr;
    for (const OurCamera& c : cameras)
        if (FAILED(hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, c.instance.c_str(), CLSID_VorkVirtualCamera)))
            return hr;
    LONG rc = RegDeleteTreeW(HKEY_CURRENT_USER, kUnpluggedKey);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    const std::wstring classKey = L"CLSID\\" + GuidText(CLSID_VorkVirtualCamera);
    rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

// Out of the category first, then marked: a watcher that sees the mark finds
// the camera gone from the enumeration already.
HRESULT UnplugCamera(const std::wstring& instance) {
    ComScope com;
    std::vector<OurCamera> cameras;
    HRESULT hr = FindOurCameras(cameras);
    if (FAILED(hr)) return hr;
    auto it = std::find_if(cameras.begin(), cameras.end(), [&](const OurCamera& c) { return c.instance == instance; });
    if (it == cameras.end()) return S_FALSE;  // unplugged already
    vork::DescribedCamera camera;
    if (!ParseOne(it->description, camera)) return E_UNEXPECTED;
    CComPtr<IFilterMapper2> mapper = Mapper(hr);
    if (!mapper) return hr;
    if (FAILED(hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, instance.c_str(), CLSID_VorkVirtualCamera)))
        return hr;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kUnpluggedKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    hr = SetString(key, instance.c_str(), it->description);
    RegCloseKey(key);
    return hr;
}

// Back in the category under its instance first, then unmarked.
HRESULT ReturnCamera(const std::wstring& instance) {
    ComScope com;
    const std::vector<OurCamera> unplugged = UnpluggedCameras();
    auto it = std::find_if(unplugged.begin(), unplugged.end(), [&](const OurCamera& c) { return c.instance == instance; });
    if (it == unplugged.end()) return S_FALSE;  // back already
    vork::DescribedCamera camera;
    if (!ParseOne(it->description, camera)) return E_UNEXPECTED;
    HRESULT hr;
    CComPtr<IFilterMapper2> mapper = Mapper(hr);
    if (!mapper) return hr;
    if (FAILED(hr = RegisterCamera(mapper, camera, instance))) return hr;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUnpluggedKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return E_FAIL;
    const LONG rc = RegDeleteValueW(key, instance.c_str());
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

namespace {

// The cameras of a device path, registered or unplugged, each taken out or put back.
HRESULT ChangePlug(const std::wstring& path, bool plug) {
    ComScope com;
    std::vector<OurCamera> cameras;
    if (plug) {
        cameras = UnpluggedCameras();
    } else if (HRESULT hr = FindOurCameras(cameras); FAILED(hr)) {
        return hr;
    }
    bool any = false;
    for (const OurCamera& c : cameras) {
        if (!HasDevicePath(c.description, path)) continue;
        any = true;
        if (HRESULT hr = plug ? ReturnCamera(c.instance) : UnplugCamera(c.instance); FAILED(hr)) return hr;
    }
    if (any) return S_OK;
    Complain(path + (plug ? L": no unplugged camera has this device path" : L": no camera has this device path"));
    return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
}

}  // namespace

HRESULT Install(const std::wstring& commandLine) {
    const std::wstring command = Unquoted(commandLine);
    for (const auto& [prefix, plug] : {std::pair<std::wstring, bool>{L"unplug:", false}, {L"plug:", true}})
        if (command.compare(0, prefix.size(), prefix) == 0) return ChangePlug(command.substr(prefix.size()), plug);
    return RegisterDescribedCameras(command);
}

}  // namespace vcam
