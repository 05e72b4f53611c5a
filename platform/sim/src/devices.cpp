// The virtual cameras and the system device enumerator over them: monikers,
// property bags, the camera description file, injected call faults and the
// recorded property frames.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>
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
    // Unplug timers: each waits on `timers` until its time or until cancelled.
    // Their threads are detached (a host never joins them: it does not know of
    // them) and counted, so that a cancel can wait for the running ones.
    std::condition_variable timers;
    int runningTimers = 0;
    unsigned timerEpoch = 0;  // bumped to cancel the pending ones
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

class SystemDeviceEnum : public ComObject<ICreateDevEnum> {
public:
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumMoniker, DWORD) override {
        if (!enumMoniker) return E_POINTER;
        *enumMoniker = nullptr;
        if (!IsEqualCLSID(category, CLSID_VideoInputDeviceCategory)) return S_FALSE;
        auto cameras = EnumerableCameras();
        if (cameras.empty()) return S_FALSE;  // an empty category has no enumerator
        std::vector<IMoniker*> monikers;
        for (auto& camera : cameras) monikers.push_back(new Moniker(camera));
        *enumMoniker = new CountedEnumerator<IEnumMoniker, IMoniker>(monikers, "IEnumMoniker::Next");
        for (IMoniker* moniker : monikers) moniker->Release();  // the enumerator holds them
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

}  // namespace

// ---- Public controls -------------------------------------------------------------

std::vector<VideoFormat> DefaultFormats() { return vork::DefaultFormats(); }

CameraDescription DefaultCameraDescription() {
    CameraDescription d;
    d.formats = DefaultFormats();
    d.procAmp = vork::DefaultProcAmp();
    d.cameraControl = vork::DefaultCameraControl();
    return d;
}

CameraId AddCamera(const CameraDescription& description) {
    auto& r = Registry::Instance();
    auto camera = std::make_shared<Camera>();
    camera->description = description;
    if (camera->description.formats.empty()) camera->description.formats = DefaultFormats();
    const VideoFormat& first = camera->description.formats.front();
    camera->currentFormat = camera->description.videoInfo2 ? MediaType2For(first) : MediaTypeFor(first);
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
    for (auto& c : r.cameras) {
        std::lock_guard<std::mutex> cameraLock(c->mutex);
        if (!c->removed) out.push_back(c);
    }
    return out;
}

namespace {
std::shared_ptr<Camera> FindCamera(CameraId id) {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.Find(id);
}

// Waits until `delay` has passed, false when the timers were cancelled first.
bool TimerWait(DWORD delay, unsigned epoch) {
    auto& r = Registry::Instance();
    std::unique_lock<std::mutex> lock(r.mutex);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
    return !r.timers.wait_until(lock, until, [&] { return r.timerEpoch != epoch; });
}

void CancelTimers() {
    auto& r = Registry::Instance();
    std::unique_lock<std::mutex> lock(r.mutex);
    ++r.timerEpoch;
    r.timers.notify_all();
    r.timers.wait(lock, [&] { return r.runningTimers == 0; });
}

void TimerEnded() {
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    --r.runningTimers;
    r.timers.notify_all();
}

// Under the camera's mutex, so that no filter goes away while it is told.
void UnplugLocked(Camera& camera) {
    if (camera.removed) return;
    camera.removed = true;
    ++camera.instance;
    for (SourceFilter* source : camera.filtersInGraphs) SourceDeviceLost(source);
}

}  // namespace

void ScheduleUnplug(Camera& camera) {
    {
        std::lock_guard<std::mutex> lock(camera.mutex);
        if (camera.unplugScheduled || !camera.description.unplugAfterMs) return;
        camera.unplugScheduled = true;
    }
    const CameraId id = camera.id;
    const DWORD after = *camera.description.unplugAfterMs;
    const std::optional<DWORD> back = camera.description.unplugBackMs;
    auto& r = Registry::Instance();
    std::lock_guard<std::mutex> lock(r.mutex);
    const unsigned epoch = r.timerEpoch;
    ++r.runningTimers;
    std::thread([id, after, back, epoch] {
        if (TimerWait(after, epoch)) {
            RemoveCamera(id);
            if (back && TimerWait(*back, epoch)) ReturnCamera(id);
        }
        TimerEnded();
    }).detach();
}

void RemoveCamera(CameraId id) {
    auto camera = FindCamera(id);
    if (!camera) return;
    std::lock_guard<std::mutex> lock(camera->mutex);
    UnplugLocked(*camera);
}

void ReturnCamera(CameraId id) {
    auto camera = FindCamera(id);
    if (!camera) return;
    std::lock_guard<std::mutex> lock(camera->mutex);
    if (!camera->removed) return;
    camera->removed = false;
    for (SourceFilter* source : camera->filtersInGraphs)
        if (SourceIsDead(source)) SourceDeviceArrived(source);
}

void RemoveAllCameras() {
    CancelTimers();
    std::vector<std::shared_ptr<Camera>> cameras;
    {
        auto& r = Registry::Instance();
        std::lock_guard<std::mutex> lock(r.mutex);
        cameras.swap(r.cameras);
    }
    for (auto& camera : cameras) {
        std::lock_guard<std::mutex> lock(camera->mutex);
        UnplugLocked(*camera);
    }
}

void AnnounceCameraArrival(CameraId id) {
    auto camera = FindCamera(id);
    if (!camera) return;
    std::lock_guard<std::mutex> lock(camera->mutex);
    for (SourceFilter* source : camera->filtersInGraphs) SourceDeviceArrived(source);
}

void AbortStream(CameraId id, HRESULT hr) {
    auto camera = FindCamera(id);
    if (!camera) return;
    std::vector<SourceFilter*> sources;
    {
        std::lock_guard<std::mutex> lock(camera->mutex);
        sources = camera->filtersInGraphs;
    }
    for (SourceFilter* source : sources) SourceAbort(source, hr);
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
    for (auto& c : r.cameras) {
        std::lock_guard<std::mutex> cameraLock(c->mutex);
        if (!c->removed) ids.push_back(c->id);
    }
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
    state.videoInfo = PlainVideoInfo(camera->currentFormat.get());
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
    std::wstring message;
    if (!in) message = path + L": cannot be read";
    std::stringstream ss;
    ss << in.rdbuf();
    std::string bytes = ss.str();
    // Windows tools write a byte-order mark in front of UTF-8.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    std::vector<vork::DescribedCamera> cameras;
    if (message.empty()) vork::ParseCameraDescriptions(FromUtf8(bytes), path, cameras, message);
    if (!message.empty()) {
        if (error) *error = message;
        return false;
    }
    // A file without sections describes a machine with no camera attached.
    for (const vork::DescribedCamera& c : cameras) {
        CameraDescription d = DefaultCameraDescription();
        d.friendlyName = c.friendlyName;
        d.devicePath = c.devicePath;
        if (!c.formats.empty()) d.formats = c.formats;
        d.unthrottled = c.unthrottled;
        d.hasProcAmp = c.hasProcAmp;
        d.hasCameraControl = c.hasCameraControl;
        d.hasStreamConfig = c.hasStreamConfig;
        d.faults.propertyBagFails = !c.propertyBagWorks;
        d.faults.bindFails = !c.bindWorks;
        d.startDelayMs = c.startDelayMs;
        d.darkFrames = c.darkFrames;
        d.dropEvery = c.dropEvery;
        d.unplugAfterMs = c.unplugAfterMs;
        d.unplugBackMs = c.unplugBackMs;
        d.videoInfo2 = c.videoInfo2;
        d.busy = c.busy;
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
