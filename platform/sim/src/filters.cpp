// Media types, pins and the parts common to the simulated filters.
#include <cstring>

#include "dshow_internal.h"

namespace vorksim {

void CopyMediaType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from) {
    to = from;
    if (from.cbFormat && from.pbFormat) {
        to.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
        std::memcpy(to.pbFormat, from.pbFormat, from.cbFormat);
    } else {
        to.cbFormat = 0;
        to.pbFormat = nullptr;
    }
    if (to.pUnk) to.pUnk->AddRef();
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
    if (type.cbFormat) CoTaskMemFree(type.pbFormat);
    if (type.pUnk) type.pUnk->Release();
    std::memset(&type, 0, sizeof(type));
}

AM_MEDIA_TYPE* CreateTaskMediaType(const AM_MEDIA_TYPE& from) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    CopyMediaType(*type, from);
    return type;
}

MediaType MediaTypeFor(const VideoFormat& format) {
    std::vector<BYTE> block;
    return MediaType(vork::VideoMediaType(format, block));  // copies the block into task memory
}

VIDEOINFOHEADER PlainVideoInfo(const AM_MEDIA_TYPE& type) {
    VIDEOINFOHEADER vih{};
    const BITMAPINFOHEADER* bmi = vork::BitmapHeaderOf(type);
    if (!bmi) return vih;
    const auto* head = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    vih.rcSource = head->rcSource;
    vih.rcTarget = head->rcTarget;
    vih.dwBitRate = head->dwBitRate;
    vih.dwBitErrorRate = head->dwBitErrorRate;
    vih.AvgTimePerFrame = head->AvgTimePerFrame;
    vih.bmiHeader = *bmi;
    return vih;
}

MediaType MediaType2For(const VideoFormat& format) {
    std::vector<BYTE> block;
    return MediaType(vork::VideoMediaType2(format, block));
}

// ---- PinBase ----------------------------------------------------------------------


PinBase::PinBase(FilterBase* owner, PIN_DIRECTION direction, const wchar_t* name)
    : owner_(owner), direction_(direction), name_(name) {}

PinBase::~PinBase() = default;

HRESULT STDMETHODCALLTYPE PinBase::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        *object = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE PinBase::AddRef() { return owner_->AsFilter()->AddRef(); }
ULONG STDMETHODCALLTYPE PinBase::Release() { return owner_->AsFilter()->Release(); }

HRESULT PinBase::Link(PinBase* out, PinBase* in, const AM_MEDIA_TYPE& type) {
    std::scoped_lock lock(out->mutex_, in->mutex_);
    if (out->peer_ || in->peer_) return VFW_E_ALREADY_CONNECTED;
    out->peer_ = in;
    in->peer_ = out;
    out->type_ = MediaType(type);
    in->type_ = MediaType(type);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) {
    auto* in = dynamic_cast<PinBase*>(receivePin);
    if (!in) return E_POINTER;
    if (direction_ != PINDIR_OUTPUT || in->direction_ != PINDIR_INPUT) return VFW_E_INVALIDMEDIATYPE;
    if (IsConnected() || in->IsConnected()) return VFW_E_ALREADY_CONNECTED;
    std::vector<MediaType> candidates;
    if (mediaType) candidates.emplace_back(*mediaType);
    else candidates = ProposedTypes();
    for (const MediaType& type : candidates) {
        if (!in->Accepts(type.get())) continue;
        HRESULT hr = Link(this, in, type.get());
        if (FAILED(hr)) return hr;
        OnConnected();
        in->OnConnected();
        return S_OK;
    }
    return mediaType ? VFW_E_TYPE_NOT_ACCEPTED : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT STDMETHODCALLTYPE PinBase::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PinBase::Disconnect() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!peer_) return S_FALSE;
        peer_ = nullptr;
        type_ = MediaType();
    }
    OnDisconnected();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *pin = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::ConnectionMediaType(AM_MEDIA_TYPE* mediaType) {
    if (!mediaType) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!peer_) {
        std::memset(mediaType, 0, sizeof(*mediaType));
        return VFW_E_NOT_CONNECTED;
    }
    CopyMediaType(*mediaType, type_.get());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = owner_->AsFilter();
    info->pFilter->AddRef();
    info->dir = direction_;
    size_t n = std::min<size_t>(name_.size(), MAX_PIN_NAME - 1);
    std::wmemcpy(info->achName, name_.data(), n);
    info->achName[n] = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc((name_.size() + 1) * sizeof(WCHAR)));
    std::wmemcpy(*id, name_.c_str(), name_.size() + 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinBase::QueryAccept(const AM_MEDIA_TYPE* mediaType) {
    if (!mediaType) return E_POINTER;
    return Accepts(*mediaType) ? S_OK : S_FALSE;
}

PinBase* PinBase::peer() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return peer_;
}

bool PinBase::IsConnected() const { return peer() != nullptr; }

MediaType PinBase::ConnectionType() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return type_;
}

void PinBase::ChangeConnectionType(const AM_MEDIA_TYPE& type) {
    PinBase* other = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        type_ = MediaType(type);
        other = peer_;
    }
    if (!other) return;
    {
        std::lock_guard<std::mutex> lock(other->mutex_);
        other->type_ = MediaType(type);
    }
    other->OnConnected();
}

// The receiving pin's filter is held for the call, as DirectShow's pins hold
// their peer's input interface: a filter taken out of the graph meanwhile goes
// only when the frame has passed.
HRESULT PinBase::Deliver(const BYTE* data, LONG length, REFERENCE_TIME time) {
    PinBase* other = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        other = peer_;
        if (other) other->AddRef();
    }
    if (!other) return VFW_E_NOT_CONNECTED;
    const HRESULT hr = other->Receive(data, length, time);
    other->Release();
    return hr;
}

// ---- FilterBase ---------------------------------------------------------------------

void FilterBase::SetGraph(FilterGraph* graph, LPCWSTR name) {
    std::lock_guard<std::mutex> lock(mutex_);
    graph_ = graph;
    name_ = name ? name : L"";
}

FilterGraph* FilterBase::Graph() {
    std::lock_guard<std::mutex> lock(mutex_);
    return graph_;
}

std::wstring FilterBase::Name() {
    std::lock_guard<std::mutex> lock(mutex_);
    return name_;
}

void FilterBase::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
    FilterGraph* graph = Graph();
    if (graph) GraphNotify(graph, code, param1, param2);
}

FILTER_STATE FilterBase::State() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void FilterBase::SetState(FILTER_STATE state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
}

HRESULT FilterBase::EnumPinsImpl(IEnumPins** enumPins) {
    if (!enumPins) return E_POINTER;
    const std::vector<PinBase*> pins = Pins();
    *enumPins = new CountedEnumerator<IEnumPins, IPin>(std::vector<IPin*>(pins.begin(), pins.end()));
    return S_OK;
}

HRESULT FilterBase::QueryFilterInfoImpl(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    std::wstring name = Name();
    size_t n = std::min<size_t>(name.size(), MAX_FILTER_NAME - 1);
    std::wmemcpy(info->achName, name.data(), n);
    info->achName[n] = 0;
    info->pGraph = nullptr;
    if (FilterGraph* graph = Graph()) {
        info->pGraph = GraphInterface(graph);
        info->pGraph->AddRef();
    }
    return S_OK;
}

}  // namespace vorksim
