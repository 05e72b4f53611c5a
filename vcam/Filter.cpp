#include "Filter.h"

#include <algorithm>
#include <cwchar>

#include "Enumerators.h"
#include "Presence.h"
#include "Registration.h"

namespace vcam {

std::vector<vork::VideoFormat> PaintableDefaults() {
    std::vector<vork::VideoFormat> formats;
    for (const vork::VideoFormat& f : vork::DefaultFormats())
        if (CanPaint(f.subtype)) formats.push_back(f);
    return formats;
}

// ---- Controls -----------------------------------------------------------------------

void ControlSet::Assign(std::map<LONG, vork::CameraProperty> properties) {
    std::lock_guard<std::mutex> lock(mutex_);
    properties_ = std::move(properties);
}

vork::PictureSettings ControlSet::Picture() {
    std::lock_guard<std::mutex> lock(mutex_);
    return vork::PictureSettings::Of(properties_);
}

HRESULT ControlSet::GetRange(long property, long* min, long* max, long* step, long* def, long* caps) {
    if (!min || !max || !step || !def || !caps) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = properties_.find(property);
    if (it == properties_.end()) return E_PROP_ID_UNSUPPORTED;
    const vork::CameraProperty& p = it->second;
    *min = p.min;
    *max = p.max;
    *step = p.step;
    *def = p.defaultValue;
    *caps = p.caps;
    return S_OK;
}

HRESULT ControlSet::Set(long property, long value, long flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = properties_.find(property);
    if (it == properties_.end()) return E_PROP_ID_UNSUPPORTED;
    vork::CameraProperty& p = it->second;
    if ((flags & p.caps) == 0) return E_INVALIDARG;
    // Manual values must lie in the range on a step; automatic ones keep the value.
    if (flags & 2) {
        if (value < p.min || value > p.max || (p.step > 0 && (value - p.min) % p.step != 0)) return E_INVALIDARG;
        p.value = value;
    }
    p.flags = flags;
    return S_OK;
}

HRESULT ControlSet::Get(long property, long* value, long* flags) {
    if (!value || !flags) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = properties_.find(property);
    if (it == properties_.end()) return E_PROP_ID_UNSUPPORTED;
    *value = it->second.value;
    *flags = it->second.flags;
    return S_OK;
}

// ---- The filter ---------------------------------------------------------------------

Filter::Filter()
    : procAmpPart_(static_cast<IBaseFilter*>(this), procAmp_),
      cameraControlPart_(static_cast<IBaseFilter*>(this), cameraControl_),
      pin_(*this) {
    vork::DescribedCamera camera;
    camera.friendlyName = vork::kDefaultFriendlyName;
    camera.devicePath = vork::kDefaultDevicePath;
    UseCamera(camera);
}

Filter::~Filter() {
    if (!instance_.empty()) Presence::Leave(this);
    std::lock_guard<std::mutex> lock(mutex_);
    pin_.Deactivate();
}

void Filter::UseCamera(const vork::DescribedCamera& camera) {
    camera_ = camera;
    if (camera_.formats.empty()) camera_.formats = PaintableDefaults();
    procAmp_.Assign(camera_.hasProcAmp ? vork::DefaultProcAmp() : std::map<LONG, vork::CameraProperty>{});
    cameraControl_.Assign(camera_.hasCameraControl ? vork::DefaultCameraControl() : std::map<LONG, vork::CameraProperty>{});
}

HRESULT Filter::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
        IsEqualIID(iid, IID_IBaseFilter))
        return Hand(static_cast<IBaseFilter*>(this), out);
    if (IsEqualIID(iid, IID_IPersistPropertyBag)) return Hand(static_cast<IPersistPropertyBag*>(this), out);
    if (IsEqualIID(iid, IID_IAMVideoControl)) return Hand(static_cast<IAMVideoControl*>(this), out);
    if (IsEqualIID(iid, IID_IAMVideoProcAmp) && procAmp_.Present()) return Hand(&procAmpPart_, out);
    if (IsEqualIID(iid, IID_IAMCameraControl) && cameraControl_.Present()) return Hand(&cameraControlPart_, out);
    return E_NOINTERFACE;
}

ULONG Filter::Release() {
    const ULONG left = refs_.Drop();
    if (left == 0) delete this;
    return left;
}

HRESULT Filter::GetClassID(CLSID* id) {
    if (!id) return E_POINTER;
    *id = CLSID_VorkVirtualCamera;
    return S_OK;
}

HRESULT Filter::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    pin_.Deactivate();
    state_ = State_Stopped;
    return S_OK;
}

// What a camera that is gone or held by another program answers to a start.
bool Filter::Usable(HRESULT& hr) const {
    hr = S_OK;
    if (unplugged_) hr = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    else if (camera_.busy) hr = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
    return SUCCEEDED(hr);
}

HRESULT Filter::Pause() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State_Stopped) {
        HRESULT hr;
        if (!Usable(hr)) return hr;
        if (FAILED(hr = pin_.Activate())) return hr;
    }
    state_ = State_Paused;
    pin_.StateChanged(state_);
    // A live source delivers nothing while paused.
    return VFW_S_CANT_CUE;
}

HRESULT Filter::Run(REFERENCE_TIME start) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        HRESULT hr;
        if (!Usable(hr)) return hr;
        if (state_ == State_Stopped && FAILED(hr = pin_.Activate())) return hr;
        {
            std::lock_guard<std::mutex> time(timeMutex_);
            start_ = start;
        }
        state_ = State_Running;
        pin_.StateChanged(state_);
        if (ranOnce_ || instance_.empty()) return S_OK;
        ranOnce_ = true;
    }
    // Outside the filter's lock: the presence watcher takes it the other way round.
    if (camera_.unplugAfterMs) Presence::FirstRun(instance_, *camera_.unplugAfterMs, camera_.unplugBackMs);
    return S_OK;
}

void Filter::Unplugged() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (unplugged_) return;
        unplugged_ = true;
    }
    pin_.DeviceRemoved();
    // The filter itself, without a reference: the graph holds it while the
    // event waits in its queue, and FreeEventParams releases nothing.
    NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))), 0);
}

void Filter::Returned() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!unplugged_ || returned_) return;
        returned_ = true;
    }
    NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))), 1);
}

// ---- Video control --------------------------------------------------------------------

namespace {

bool IsPin(IPin* pin, IBaseFilter* filter) {
    CComPtr<IPin> ours;
    return pin && SUCCEEDED(filter->FindPin(L"Capture", &ours)) && ours == pin;
}

}  // namespace

HRESULT Filter::GetCaps(IPin* pin, LONG* flags) {
    if (!flags) return E_POINTER;
    if (!IsPin(pin, this)) return E_INVALIDARG;
    *flags = 0;
    return S_OK;
}

HRESULT Filter::SetMode(IPin* pin, LONG mode) {
    if (!IsPin(pin, this)) return E_INVALIDARG;
    return mode == 0 ? S_OK : E_INVALIDARG;
}

HRESULT Filter::GetMode(IPin* pin, LONG* mode) {
    if (!mode) return E_POINTER;
    if (!IsPin(pin, this)) return E_INVALIDARG;
    *mode = 0;
    return S_OK;
}

HRESULT Filter::GetCurrentActualFrameRate(IPin* pin, LONGLONG* interval) {
    if (!interval) return E_POINTER;
    if (!IsPin(pin, this)) return E_INVALIDARG;
    *interval = pin_.Interval();
    return *interval ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT Filter::GetMaxAvailableFrameRate(IPin* pin, LONG index, SIZE size, LONGLONG* interval) {
    if (!interval) return E_POINTER;
    if (!IsPin(pin, this)) return E_INVALIDARG;
    std::vector<double> rates;
    if (HRESULT hr = pin_.FrameRates(index, size, rates); FAILED(hr)) return hr;
    *interval = IntervalOf(*std::max_element(rates.begin(), rates.end()));
    return S_OK;
}

// The list in task memory, for the caller to free; only its length when the
// caller passes no pointer for it.
HRESULT Filter::GetFrameRateList(IPin* pin, LONG index, SIZE size, LONG* count, LONGLONG** intervals) {
    if (!count) return E_POINTER;
    if (!IsPin(pin, this)) return E_INVALIDARG;
    std::vector<double> rates;
    if (HRESULT hr = pin_.FrameRates(index, size, rates); FAILED(hr)) return hr;
    *count = static_cast<LONG>(rates.size());
    if (!intervals) return S_OK;
    *intervals = static_cast<LONGLONG*>(CoTaskMemAlloc(rates.size() * sizeof(LONGLONG)));
    if (!*intervals) return E_OUTOFMEMORY;
    for (size_t i = 0; i < rates.size(); ++i) (*intervals)[i] = IntervalOf(rates[i]);
    return S_OK;
}

HRESULT Filter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *state = state_;
    return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT Filter::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard<std::mutex> lock(timeMutex_);
    clock_ = clock;
    return S_OK;
}

HRESULT Filter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    std::lock_guard<std::mutex> lock(timeMutex_);
    *clock = clock_;
    if (*clock) (*clock)->AddRef();
    return S_OK;
}

bool Filter::StreamTime(REFERENCE_TIME& now) {
    CComPtr<IReferenceClock> clock;
    REFERENCE_TIME start = 0;
    {
        std::lock_guard<std::mutex> lock(timeMutex_);
        clock = clock_;
        start = start_;
    }
    if (!clock || FAILED(clock->GetTime(&now))) return false;
    now -= start;
    return true;
}

void Filter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    CComPtr<IMediaEventSink> sink;
    {
        std::lock_guard<std::mutex> lock(timeMutex_);
        if (!graph_ || FAILED(graph_->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) return;
    }
    sink->Notify(code, param1, param2);
}

IFilterGraph* Filter::Graph() {
    std::lock_guard<std::mutex> lock(timeMutex_);
    return graph_;
}

HRESULT Filter::EnumPins(IEnumPins** pins) { return CreatePinEnumerator(&pin_, pins); }

HRESULT Filter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    if (std::wcscmp(id, L"Capture") != 0) return VFW_E_NOT_FOUND;
    return Hand(static_cast<IPin*>(&pin_), reinterpret_cast<void**>(pin));
}

HRESULT Filter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    std::lock_guard<std::mutex> lock(timeMutex_);
    const size_t n = std::min<size_t>(name_.size(), MAX_FILTER_NAME - 1);
    std::wmemcpy(info->achName, name_.c_str(), n);
    info->achName[n] = L'\0';
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT Filter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard<std::mutex> lock(timeMutex_);
    graph_ = graph;
    name_ = name ? name : L"";
    return S_OK;
}

// The registration wrote the camera's description beside its name and path,
// under the keys of a description file; they are read back as one.
HRESULT Filter::Load(IPropertyBag* bag, IErrorLog*) {
    if (!bag) return E_POINTER;
    const std::wstring text = DescriptionOf(bag);
    std::vector<vork::DescribedCamera> cameras;
    std::wstring error;
    if (!vork::ParseCameraDescriptions(text, L"registry", cameras, error) || cameras.size() != 1) return E_FAIL;
    for (const vork::VideoFormat& f : cameras.front().formats)
        if (!CanPaint(f.subtype)) return E_FAIL;
    std::wstring instance;
    ReadBag(bag, kInstanceKey, instance);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ != State_Stopped || !instance_.empty()) return VFW_E_WRONG_STATE;
        UseCamera(cameras.front());
        instance_ = instance;
    }
    if (!instance_.empty()) Presence::Join(this);
    return S_OK;
}

}  // namespace vcam
