// The virtual cameras and the system device enumerator over them: monikers,
// property bags, the camera description file, injected call faults and the
// recorded property frames.
#include <algorithm>
#include <cstdio>
#include <atomic>
#include <cwchar>
#include <fstream>
#include <map>
#include <sstream>

#include "dshow_internal.h"
#include "vorksim/text.h"

namespace vorksim {
namespace {

struct Registry {
    std::mutex mutex;
    std::vector<std::shared_ptr<Camera>> cameras;
    CameraId nextId = 1;
    std::map<std::string, std::pair<HRESULT, int>> callFaults;
    std::map<std::string, std::function<void()>> callHooks;
    std::map<std::string, std::vector<long long>> callArguments;
    std::vector<PropertyFrameCall> frames;

    static Registry& Instance() {
        static auto* registry = new Registry;
        return *registry;
    }
    std::shared_ptr<Camera> Find(CameraId id) {
        for (auto& c : cameras)
            if (c->id == id) return c;
        return nullptr;
    }
};

CameraProperty Property(LONG min, LONG max, LONG step, LONG def, LONG caps, LONG flags = 2) {
    CameraProperty p;
    p.min = min;
    p.max = max;
    p.step = step;
    p.defaultValue = def;
    p.caps = caps;
    p.value = def;
    p.flags = flags;
    return p;
}

// ---- Property bag and moniker -----------------------------------------------------

class PropertyBag : public ComObject<IPropertyBag> {
public:
    explicit PropertyBag(std::shared_ptr<Camera> camera) : camera_(std::move(camera)) {}

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* var, IErrorLog*) override {
        if (!name || !var) return E_POINTER;
        const auto& d = camera_->description;
        const std::optional<std::wstring>* value = nullptr;
        if (std::wstring(name) == L"FriendlyName") value = &d.friendlyName;
        if (std::wstring(name) == L"DevicePath") value = &d.devicePath;
        if (!value || !value->has_value()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        var->vt = VT_BSTR;
        var->bstrVal = SysAllocString((*value)->c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

private:
    std::shared_ptr<Camera> camera_;
};

class Moniker : public ComObject<IMoniker> {
public:
    explicit Moniker(std::shared_ptr<Camera> camera) : camera_(std::move(camera)) {}

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override {
        if (!classId) return E_POINTER;
        *classId = GUID_NULL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** result) override {
        if (!result) return E_POINTER;
        *result = nullptr;
        {
            std::lock_guard<std::mutex> lock(camera_->mutex);
            if (camera_->removed) return VFW_E_NO_CAPTURE_HARDWARE;
        }
        if (FaultsOf(*camera_).bindFails) return E_FAIL;
        return CreateSourceFilter(camera_, iid, result);
    }
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** result) override {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (FaultsOf(*camera_).propertyBagFails) return E_FAIL;
        if (!IsEqualIID(iid, IID_IPropertyBag)) return E_NOINTERFACE;
        return CreateAndQuery<PropertyBag>(iid, result, camera_);
    }
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
        if (!name) return E_POINTER;
        std::wstring text = L"@device:pnp:vorkcam" + std::to_wstring(camera_->id);
        *name = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
        std::wmemcpy(*name, text.c_str(), text.size() + 1);
        return S_OK;
    }

private:
    std::shared_ptr<Camera> camera_;
};

class MonikerEnumerator : public ComObject<IEnumMoniker> {
public:
    explicit MonikerEnumerator(std::vector<std::shared_ptr<Camera>> cameras) : cameras_(std::move(cameras)) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** elements, ULONG* fetched) override {
        if (!elements) return E_POINTER;
        if (HRESULT hr = CallFault("IEnumMoniker::Next"); FAILED(hr)) {
            if (fetched) *fetched = 0;
            return hr;
        }
        ULONG n = 0;
        while (n < count && next_ < cameras_.size()) elements[n++] = new Moniker(cameras_[next_++]);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        next_ += count;
        return next_ <= cameras_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** clone) override {
        if (!clone) return E_POINTER;
        auto* copy = new MonikerEnumerator(cameras_);
        copy->next_ = next_;
        *clone = copy;
        return S_OK;
    }

private:
    std::vector<std::shared_ptr<Camera>> cameras_;
    size_t next_ = 0;
};

class SystemDeviceEnum : public ComObject<ICreateDevEnum> {
public:
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumMoniker, DWORD) override {
        if (!enumMoniker) return E_POINTER;
        *enumMoniker = nullptr;
        if (!IsEqualCLSID(category, CLSID_VideoInputDeviceCategory)) return S_FALSE;
        auto cameras = EnumerableCameras();
        if (cameras.empty()) return S_FALSE;  // an empty category has no enumerator
        *enumMoniker = new MonikerEnumerator(std::move(cameras));
        return S_OK;
    }
};

// Registers the simulated classes when the platform library is loaded.
struct ClassRegistration {
    ClassRegistration() {
        RegisterComClass(CLSID_SystemDeviceEnum, &CreateSystemDeviceEnum);
        RegisterComClass(CLSID_SampleGrabber, &CreateSampleGrabber);
        RegisterComClass(CLSID_NullRenderer, &CreateNullRenderer);
        RegisterComClass(CLSID_FilterGraph, &CreateFilterGraph);
    }
} g_registration;

// ---- Camera description files ---------------------------------------------------

std::wstring Trim(const std::wstring& s) {
    size_t b = s.find_first_not_of(L" \t\r");
    size_t e = s.find_last_not_of(L" \t\r");
    return b == std::wstring::npos ? L"" : s.substr(b, e - b + 1);
}

bool ParseSubtype(const std::wstring& name, GUID& subtype) {
    static const std::pair<const wchar_t*, GUID> kSubtypes[] = {
        {L"RGB8", MEDIASUBTYPE_RGB8},   {L"RGB555", MEDIASUBTYPE_RGB555}, {L"RGB565", MEDIASUBTYPE_RGB565},
        {L"RGB24", MEDIASUBTYPE_RGB24}, {L"RGB32", MEDIASUBTYPE_RGB32},   {L"YUY2", MEDIASUBTYPE_YUY2},
        {L"MJPG", MEDIASUBTYPE_MJPG}};
    for (const auto& [n, g] : kSubtypes) {
        if (name == n) {
            subtype = g;
            return true;
        }
    }
    return false;
}

// A plain decimal number: digits with at most one point; no sign, exponent,
// hex, inf or nan.
bool ParsePlainNumber(const std::wstring& text, double max, double& value) {
    size_t digits = 0, points = 0;
    for (wchar_t c : text) {
        if (c >= L'0' && c <= L'9') ++digits;
        else if (c == L'.') ++points;
        else return false;
    }
    if (digits == 0 || points > 1 || text.size() > 24) return false;
    value = std::wcstod(text.c_str(), nullptr);
    return value > 0 && value <= max;
}

constexpr double kMaxFps = 1000.0;
constexpr LONG kMaxSide = 16384;

// "640x480 RGB24 30, 1280x720 RGB32 15"
bool ParseFormats(const std::wstring& text, std::vector<VideoFormat>& formats) {
    std::wstringstream list(text);
    std::wstring item;
    while (std::getline(list, item, L',')) {
        std::wstringstream words(Trim(item));
        std::wstring size, subtype, fps;
        if (!(words >> size >> subtype >> fps)) return false;
        std::wstring rest;
        if (words >> rest) return false;
        VideoFormat f;
        const size_t x = size.find(L'x');
        if (x == std::wstring::npos) return false;
        double width = 0, height = 0;
        if (!ParsePlainNumber(size.substr(0, x), kMaxSide, width) || !ParsePlainNumber(size.substr(x + 1), kMaxSide, height) ||
            size.find(L'.') != std::wstring::npos)
            return false;
        f.width = static_cast<LONG>(width);
        f.height = static_cast<LONG>(height);
        if (!ParsePlainNumber(fps, kMaxFps, f.fps)) return false;
        if (!ParseSubtype(subtype, f.subtype)) return false;
        formats.push_back(f);
    }
    return !formats.empty();
}

// A value from the file as an error message shows it: control characters
// escaped, and cut short.
std::wstring Shown(const std::wstring& value) {
    constexpr size_t kLimit = 60;  // characters shown, escapes included
    std::wstring shown;
    for (wchar_t c : value) {
        if (shown.size() >= kLimit) {
            shown += L"...";
            break;
        }
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            wchar_t escaped[8];
            std::swprintf(escaped, 8, L"\\x%02X", static_cast<unsigned>(c));
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

bool ParseFlag(const std::wstring& v, bool& out) {
    if (v == L"0") out = false;
    else if (v == L"1") out = true;
    else return false;
    return true;
}

}  // namespace

// ---- Public controls -------------------------------------------------------------

std::vector<VideoFormat> DefaultFormats() {
    return {{640, 480, MEDIASUBTYPE_RGB24, 30.0}, {320, 240, MEDIASUBTYPE_RGB24, 30.0},
            {640, 480, MEDIASUBTYPE_RGB32, 30.0}, {320, 240, MEDIASUBTYPE_RGB32, 30.0},
            {640, 480, MEDIASUBTYPE_YUY2, 30.0}};
}

CameraDescription DefaultCameraDescription() {
    CameraDescription d;
    d.formats = DefaultFormats();
    d.procAmp = {
        {VideoProcAmp_Brightness, Property(0, 255, 1, 128, 2)},
        {VideoProcAmp_Contrast, Property(0, 255, 1, 128, 2)},
        {VideoProcAmp_Hue, Property(-180, 180, 1, 0, 2)},
        {VideoProcAmp_Saturation, Property(0, 200, 1, 100, 2)},
        {VideoProcAmp_Sharpness, Property(0, 7, 1, 2, 2)},
        {VideoProcAmp_Gamma, Property(100, 500, 1, 100, 2)},
        {VideoProcAmp_ColorEnable, Property(0, 1, 1, 1, 2)},
        {VideoProcAmp_WhiteBalance, Property(2800, 6500, 10, 4600, 3, 1)},
        {VideoProcAmp_BacklightCompensation, Property(0, 2, 1, 1, 2)},
        {VideoProcAmp_Gain, Property(0, 255, 1, 0, 2)},
    };
    d.cameraControl = {
        {CameraControl_Pan, Property(-180, 180, 1, 0, 2)},
        {CameraControl_Tilt, Property(-180, 180, 1, 0, 2)},
        {CameraControl_Zoom, Property(100, 400, 1, 100, 2)},
        {CameraControl_Exposure, Property(-11, -2, 1, -6, 3, 1)},
        {CameraControl_Focus, Property(0, 250, 5, 0, 3, 1)},
    };
    return d;
}

CameraId AddCamera(const CameraDescription& description) {
    auto& r = Registry::Instance();
    auto camera = std::make_shared<Camera>();
    camera->description = description;
    if (camera->description.formats.empty()) camera->description.formats = DefaultFormats();
    camera->currentFormat = MediaTypeFor(camera->description.formats.front());
    std::lock_guard<std::mutex> lock(r.mutex);
    camera->id = r.nextId++;
    r.cameras.push_back(camera);
    return camera->id;
}

CameraFaults FaultsOf(Camera& camera) {
    std::lock_guard<std::mutex> lock(camera.mutex);
    return camera.description.faults;
}

std::vector<std::shared_ptr<Camera>> EnumerableCameras() {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<std::shared_ptr<Camera>> out;
    for (auto& c : r.cameras)
        if (!c->removed) out.push_back(c);
    return out;
}

namespace {
std::shared_ptr<Camera> TakeCamera(CameraId id) {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto camera = r.Find(id);
    if (camera) r.cameras.erase(std::find(r.cameras.begin(), r.cameras.end(), camera));
    return camera;
}

std::shared_ptr<Camera> FindCamera(CameraId id) {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.Find(id);
}

SourceFilter* ActiveFilter(const std::shared_ptr<Camera>& camera) {
    std::lock_guard<std::mutex> lock(camera->mutex);
    return camera->activeFilter;
}
}  // namespace

void RemoveCamera(CameraId id) {
    auto camera = TakeCamera(id);
    if (!camera) return;
    {
        std::lock_guard<std::mutex> lock(camera->mutex);
        camera->removed = true;
    }
    if (SourceFilter* source = ActiveFilter(camera)) SourceDeviceLost(source);
}

void RemoveAllCameras() {
    for (CameraId id : Cameras()) RemoveCamera(id);
}

void AnnounceCameraArrival(CameraId id) {
    auto camera = FindCamera(id);
    if (!camera) return;
    if (SourceFilter* source = ActiveFilter(camera)) SourceDeviceArrived(source);
}

void AbortStream(CameraId id, HRESULT hr) {
    auto camera = FindCamera(id);
    if (!camera) return;
    if (SourceFilter* source = ActiveFilter(camera)) SourceAbort(source, hr);
}

void SetFaults(CameraId id, const CameraFaults& faults) {
    if (auto camera = FindCamera(id)) {
        std::lock_guard<std::mutex> lock(camera->mutex);
        camera->description.faults = faults;
    }
}

std::vector<CameraId> Cameras() {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<CameraId> ids;
    for (auto& c : r.cameras) ids.push_back(c->id);
    return ids;
}

CameraState GetCameraState(CameraId id) {
    CameraState state;
    auto camera = FindCamera(id);
    if (!camera) return state;
    std::lock_guard<std::mutex> lock(camera->mutex);
    state.format = camera->currentFormat.get();
    state.format.pbFormat = nullptr;
    state.format.cbFormat = 0;
    state.format.pUnk = nullptr;
    if (const VIDEOINFOHEADER* vih = camera->currentFormat.VideoInfo()) state.videoInfo = *vih;
    state.procAmp = camera->description.procAmp;
    state.cameraControl = camera->description.cameraControl;
    state.framesDelivered = camera->framesDelivered;
    state.setFormatCalls = camera->setFormatCalls;
    state.requestedSampleSize = camera->requestedSampleSize;
    state.requestedVideoInfo = camera->requestedVideoInfo;
    return state;
}

bool LoadCameraFile(const std::wstring& path, std::vector<CameraId>* added, std::wstring* error) {
    std::ifstream in(ToUtf8(path), std::ios::binary);
    auto fail = [&](const std::wstring& message) {
        if (error) *error = message;
        return false;
    };
    if (!in) return fail(path + L": cannot be read");
    std::stringstream ss;
    ss << in.rdbuf();
    std::string bytes = ss.str();
    // Windows tools write a byte-order mark in front of UTF-8.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    std::wstring text = FromUtf8(bytes);
    std::vector<std::pair<std::wstring, CameraDescription>> cameras;
    std::wstringstream lines(text);
    std::wstring line;
    int lineNo = 0;
    while (std::getline(lines, line)) {
        ++lineNo;
        line = Trim(line);
        if (line.empty() || line[0] == L';' || line[0] == L'#') continue;
        if (line[0] == L'[') {
            if (line.back() != L']')
                return fail(path + L": line " + std::to_wstring(lineNo) + L": bad section header \"" + Shown(line) + L"\"");
            CameraDescription d = DefaultCameraDescription();
            d.friendlyName.reset();
            d.devicePath.reset();
            cameras.emplace_back(line.substr(1, line.size() - 2), d);
            continue;
        }
        size_t eq = line.find(L'=');
        if (cameras.empty() || eq == std::wstring::npos)
            return fail(path + L": line " + std::to_wstring(lineNo) + L": expected a [camera] section and key=value");
        std::wstring key = Trim(line.substr(0, eq));
        std::wstring value = Trim(line.substr(eq + 1));
        const std::wstring& section = cameras.back().first;
        CameraDescription& d = cameras.back().second;
        auto bad = [&] {
            return fail(path + L": [" + Shown(section) + L"] " + Shown(key) + L": bad value \"" + Shown(value) + L"\"");
        };
        bool flag = false;
        if (key == L"FriendlyName") {
            d.friendlyName = value;
        } else if (key == L"DevicePath") {
            d.devicePath = value;
        } else if (key == L"PropertyBag") {
            if (!ParseFlag(value, flag)) return bad();
            d.faults.propertyBagFails = !flag;
        } else if (key == L"Bind") {
            if (!ParseFlag(value, flag)) return bad();
            d.faults.bindFails = !flag;
        } else if (key == L"ProcAmp") {
            if (!ParseFlag(value, d.hasProcAmp)) return bad();
        } else if (key == L"CameraControl") {
            if (!ParseFlag(value, d.hasCameraControl)) return bad();
        } else if (key == L"Formats") {
            d.formats.clear();
            if (!ParseFormats(value, d.formats)) return bad();
        } else if (key == L"FrameRate") {
            if (value != L"max" && value != L"format") return bad();
            d.unthrottled = value == L"max";
        } else {
            return fail(path + L": [" + Shown(section) + L"] " + Shown(key) + L": unknown key");
        }
    }
    // A file without sections describes a machine with no camera attached.
    for (auto& [section, d] : cameras) {
        CameraId id = AddCamera(d);
        if (added) added->push_back(id);
    }
    return true;
}

void SetCallFault(const std::string& call, HRESULT hr, int count) {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (hr == S_OK) r.callFaults.erase(call);
    else r.callFaults[call] = {hr, count};
}

void ClearCallFaults() {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.callFaults.clear();
    r.callHooks.clear();
    r.callArguments.clear();
}

HRESULT CallFault(const std::string& call, long long argument) {
    {
        auto& r = Registry::Instance();
        std::lock_guard<std::mutex> lock(r.mutex);
        // The latest ones only: a long run must not grow the record.
        auto& arguments = r.callArguments[call];
        if (arguments.size() >= 64) arguments.erase(arguments.begin());
        arguments.push_back(argument);
    }
    return CallFault(call);
}

std::string CreationCall(REFCLSID clsid) {
    char text[64];
    std::snprintf(text, sizeof(text), "CoCreateInstance %08lX-%04X-%04X", static_cast<unsigned long>(clsid.Data1),
                  clsid.Data2, clsid.Data3);
    return text;
}

std::vector<long long> CallArguments(const std::string& call) {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.callArguments.find(call);
    return it == r.callArguments.end() ? std::vector<long long>{} : it->second;
}

void SetCallHook(const std::string& call, std::function<void()> hook) {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (hook) r.callHooks[call] = std::move(hook);
    else r.callHooks.erase(call);
}

HRESULT CallFault(const std::string& call) {
    auto& r = Registry::Instance();
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        if (auto it = r.callHooks.find(call); it != r.callHooks.end()) hook = it->second;
    }
    if (hook) hook();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.callFaults.find(call);
    if (it == r.callFaults.end()) return S_OK;
    HRESULT hr = it->second.first;
    if (it->second.second > 0 && --it->second.second == 0) r.callFaults.erase(it);
    return hr;
}

std::vector<PropertyFrameCall> PropertyFrameCalls() {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.frames;
}

namespace {
std::atomic<int> g_runningGraphs{0};
std::atomic<int> g_mostRunningGraphs{0};
}  // namespace

void RecordRunningGraph(bool running) {
    const int now = running ? ++g_runningGraphs : --g_runningGraphs;
    int most = g_mostRunningGraphs.load();
    while (now > most && !g_mostRunningGraphs.compare_exchange_weak(most, now)) {
    }
}

int RunningGraphs() { return g_runningGraphs.load(); }
int MostRunningGraphs() { return g_mostRunningGraphs.load(); }
void ResetMostRunningGraphs() { g_mostRunningGraphs = g_runningGraphs.load(); }

void RecordPropertyFrame(const PropertyFrameCall& call) {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.frames.push_back(call);
}

HRESULT CreateSystemDeviceEnum(REFIID iid, void** object) { return CreateAndQuery<SystemDeviceEnum>(iid, object); }

}  // namespace vorksim

extern "C" HRESULT WINAPI OleCreatePropertyFrame(HWND owner, UINT, UINT, LPCOLESTR caption, ULONG objects,
                                                 IUnknown** objectList, ULONG pages, LPCLSID, LCID, DWORD,
                                                 LPVOID) {
    if (objects && !objectList) return E_POINTER;
    // A modal frame cannot be clicked by a test: the call is recorded and returns
    // as if the user had closed it at once.
    vorksim::RecordPropertyFrame({owner, caption ? caption : L"", objects, pages});
    return S_OK;
}
