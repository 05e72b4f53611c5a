#include "Filter.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "Enumerators.h"
#include "Frames.h"

namespace vcam {
namespace {

const wchar_t kPinName[] = L"Capture";

bool FullySpecified(const AM_MEDIA_TYPE& type) {
    return !IsEqualGUID(type.majortype, GUID_NULL) && !IsEqualGUID(type.subtype, GUID_NULL) &&
           !IsEqualGUID(type.formattype, GUID_NULL) && type.pbFormat;
}

// Whether a type fits the fields a partial type gives.
bool FitsPartial(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE* partial) {
    if (!partial) return true;
    auto fits = [](const GUID& want, const GUID& have) { return IsEqualGUID(want, GUID_NULL) || IsEqualGUID(want, have); };
    return fits(partial->majortype, type.majortype) && fits(partial->subtype, type.subtype) &&
           fits(partial->formattype, type.formattype);
}

}  // namespace

OutputPin::OutputPin(Filter& filter) : filter_(filter) {}

OutputPin::~OutputPin() = default;

HRESULT OutputPin::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) return Hand(static_cast<IPin*>(this), out);
    if (IsEqualIID(iid, IID_IKsPropertySet)) return Hand(static_cast<IKsPropertySet*>(this), out);
    if (IsEqualIID(iid, IID_IAMStreamConfig) && filter_.Camera().hasStreamConfig) return Hand(static_cast<IAMStreamConfig*>(this), out);
    return E_NOINTERFACE;
}

ULONG OutputPin::AddRef() { return filter_.AddRef(); }
ULONG OutputPin::Release() { return filter_.Release(); }

// ---- Types ----------------------------------------------------------------------------

// After SetFormat only that format, as capture pins do; before, every format,
// the first being the default.
std::vector<MediaType> OutputPin::OfferedTypes() const {
    if (!current_.Empty()) return {current_};
    std::vector<MediaType> types;
    for (const vork::VideoFormat& f : filter_.Camera().formats) types.push_back(TypeOf(f));
    return types;
}

namespace {

// The camera's format that a type asks for, or none.
const vork::VideoFormat* FormatAsked(const AM_MEDIA_TYPE& type, const std::vector<vork::VideoFormat>& formats) {
    for (const vork::VideoFormat& f : formats)
        if (Asks(type, f)) return &f;
    return nullptr;
}

// The camera's own type for what a request asks: its image size and masks,
// with the request's row order and frame interval.
MediaType Completed(const AM_MEDIA_TYPE& request, const std::vector<vork::VideoFormat>& formats) {
    const vork::VideoFormat* f = FormatAsked(request, formats);
    if (!f) return MediaType();
    MediaType type = TypeOf(*f);
    const auto* asked = reinterpret_cast<const VIDEOINFOHEADER*>(request.pbFormat);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type.get().pbFormat);
    if (asked->AvgTimePerFrame) vih->AvgTimePerFrame = asked->AvgTimePerFrame;
    vih->bmiHeader.biHeight = asked->bmiHeader.biHeight;
    return type;
}

}  // namespace

// One of the camera's formats; after SetFormat, the one it chose.
bool OutputPin::Deliverable(const AM_MEDIA_TYPE& type) const {
    const auto& formats = filter_.Camera().formats;
    const vork::VideoFormat* f = FormatAsked(type, formats);
    return f && (current_.Empty() || FormatAsked(current_.get(), formats) == f);
}

// ---- Connection ---------------------------------------------------------------------

HRESULT OutputPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
    if (!receiver) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_.Lock());
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (type && FullySpecified(*type)) return TryConnection(receiver, *type);
    // The receiver's preferences first, then the camera's own types.
    std::vector<MediaType> candidates;
    CComPtr<IEnumMediaTypes> theirs;
    if (SUCCEEDED(receiver->EnumMediaTypes(&theirs)) && theirs) {
        AM_MEDIA_TYPE* next = nullptr;
        while (theirs->Next(1, &next, nullptr) == S_OK && next) {
            candidates.emplace_back(*next);
            FreeMediaTypeBlock(*next);
            CoTaskMemFree(next);
            next = nullptr;
        }
    }
    for (MediaType& t : OfferedTypes()) candidates.push_back(t);
    for (const MediaType& t : candidates) {
        if (!FitsPartial(t.get(), type) || !FullySpecified(t.get())) continue;
        if (SUCCEEDED(TryConnection(receiver, t.get()))) return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT OutputPin::TryConnection(IPin* receiver, const AM_MEDIA_TYPE& request) {
    if (!Deliverable(request)) return VFW_E_TYPE_NOT_ACCEPTED;
    MediaType type = Completed(request, filter_.Camera().formats);
    if (HRESULT hr = receiver->ReceiveConnection(this, &type.get()); FAILED(hr)) return hr;
    CComPtr<IMemInputPin> input;
    HRESULT hr = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    if (SUCCEEDED(hr)) hr = DecideAllocator(input, type.get());
    if (FAILED(hr)) {
        receiver->Disconnect();
        ReleaseConnection();
        return hr;
    }
    peer_ = receiver;
    input_ = input;
    connection_ = type;
    return S_OK;
}

HRESULT OutputPin::DecideAllocator(IMemInputPin* input, const AM_MEDIA_TYPE& type) {
    ALLOCATOR_PROPERTIES wanted{};
    input->GetAllocatorRequirements(&wanted);
    const LONG frameBytes = static_cast<LONG>(type.lSampleSize);
    wanted.cBuffers = std::max<LONG>(wanted.cBuffers, 3);
    wanted.cbBuffer = std::max(wanted.cbBuffer, frameBytes);
    wanted.cbAlign = std::max<LONG>(wanted.cbAlign, 1);
    wanted.cbPrefix = std::max<LONG>(wanted.cbPrefix, 0);
    auto agree = [&](IMemAllocator* allocator) {
        ALLOCATOR_PROPERTIES actual{};
        if (FAILED(allocator->SetProperties(&wanted, &actual)) || actual.cbBuffer < frameBytes) return false;
        return SUCCEEDED(input->NotifyAllocator(allocator, FALSE));
    };
    CComPtr<IMemAllocator> allocator;
    if (SUCCEEDED(input->GetAllocator(&allocator)) && allocator && agree(allocator)) {
        allocator_ = allocator;
        return S_OK;
    }
    allocator.Release();
    if (SUCCEEDED(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                   reinterpret_cast<void**>(&allocator))) &&
        agree(allocator)) {
        allocator_ = allocator;
        return S_OK;
    }
    return VFW_E_NO_ALLOCATOR;
}

void OutputPin::ReleaseConnection() {
    peer_.Release();
    input_.Release();
    allocator_.Release();
    connection_.Clear();
}

HRESULT OutputPin::Disconnect() {
    std::lock_guard<std::mutex> lock(filter_.Lock());
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!peer_) return S_FALSE;
    if (allocator_) allocator_->Decommit();
    ReleaseConnection();
    return S_OK;
}

HRESULT OutputPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    std::lock_guard<std::mutex> lock(filter_.Lock());
    if (!peer_) return VFW_E_NOT_CONNECTED;
    return Hand(peer_.p, reinterpret_cast<void**>(pin));
}

HRESULT OutputPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_.Lock());
    if (!peer_) {
        *type = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(*type, connection_.get());
}

HRESULT OutputPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = PINDIR_OUTPUT;
    std::wcscpy(info->achName, kPinName);
    return S_OK;
}

HRESULT OutputPin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
}

HRESULT OutputPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(kPinName)));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, kPinName, sizeof(kPinName));
    return S_OK;
}

HRESULT OutputPin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_.Lock());
    return Deliverable(*type) ? S_OK : S_FALSE;
}

HRESULT OutputPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_.Lock());
    return CreateTypeEnumerator(OfferedTypes(), types);
}

// ---- Pin category -------------------------------------------------------------------

HRESULT OutputPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!data && !returned) return E_POINTER;
    if (returned) *returned = sizeof(GUID);
    if (!data) return S_OK;
    if (size < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

HRESULT OutputPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// ---- Stream configuration -----------------------------------------------------------

HRESULT OutputPin::SetFormat(AM_MEDIA_TYPE* request) {
    if (!request) return E_POINTER;
    CComPtr<IFilterGraph> graph;
    {
        std::lock_guard<std::mutex> lock(filter_.Lock());
        MediaType type = Completed(*request, filter_.Camera().formats);
        if (type.Empty()) return VFW_E_INVALIDMEDIATYPE;
        if (peer_) {
            if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
            if (peer_->QueryAccept(&type.get()) != S_OK) return VFW_E_INVALIDMEDIATYPE;
            graph = filter_.Graph();
        }
        current_ = type;
        if (!graph) return S_OK;
    }
    // Connected: the graph connects the pin again, now with the chosen type.
    CComPtr<IFilterGraph2> graph2;
    if (SUCCEEDED(graph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&graph2))))
        return graph2->ReconnectEx(this, nullptr);
    return graph->Reconnect(this);
}

HRESULT OutputPin::GetFormat(AM_MEDIA_TYPE** type) {
    if (!type) return E_POINTER;
    std::lock_guard<std::mutex> lock(filter_.Lock());
    const MediaType& now = !connection_.Empty() ? connection_ : !current_.Empty() ? current_ : OfferedTypes().front();
    *type = now.TaskCopy();
    return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT OutputPin::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size) return E_POINTER;
    *count = static_cast<int>(filter_.Camera().formats.size());
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT OutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
    if (!type || !caps) return E_POINTER;
    const auto& formats = filter_.Camera().formats;
    if (index < 0 || index >= static_cast<int>(formats.size())) return S_FALSE;
    const vork::VideoFormat& f = formats[static_cast<size_t>(index)];
    *type = TypeOf(f).TaskCopy();
    if (!*type) return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS c{};
    c.guid = FORMAT_VideoInfo;
    c.InputSize = c.MinCroppingSize = c.MaxCroppingSize = c.MinOutputSize = c.MaxOutputSize = {f.width, f.height};
    c.CropGranularityX = c.CropGranularityY = c.OutputGranularityX = c.OutputGranularityY = 1;
    c.MinFrameInterval = static_cast<LONGLONG>(10000000.0 / f.fps);
    c.MaxFrameInterval = 10000000LL * 10;  // down to 0.1 frames per second
    const LONGLONG bits = static_cast<LONGLONG>(vork::StrideOf(f.subtype, f.width)) * f.height * 8;
    c.MinBitsPerSecond = static_cast<LONG>(std::min<LONGLONG>(bits / 10, 0x7FFFFFFF));
    c.MaxBitsPerSecond = static_cast<LONG>(std::min<LONGLONG>(static_cast<LONGLONG>(bits * f.fps), 0x7FFFFFFF));
    std::memcpy(caps, &c, sizeof(c));
    return S_OK;
}

// ---- Streaming ----------------------------------------------------------------------

HRESULT OutputPin::Activate() {
    if (!peer_ || thread_.joinable()) return S_OK;  // an unconnected camera has nothing to stream
    if (HRESULT hr = allocator_->Commit(); FAILED(hr)) return hr;
    {
        std::lock_guard<std::mutex> lock(streamMutex_);
        quit_ = false;
        running_ = false;
    }
    thread_ = std::thread(&OutputPin::Push, this);
    return S_OK;
}

void OutputPin::Deactivate() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(streamMutex_);
        quit_ = true;
    }
    wake_.notify_all();
    // A thread waiting in GetBuffer for a sample the downstream filter holds
    // wakes up only when the allocator is decommitted.
    allocator_->Decommit();
    thread_.join();
}

void OutputPin::StateChanged(FILTER_STATE state) {
    {
        std::lock_guard<std::mutex> lock(streamMutex_);
        running_ = state == State_Running;
    }
    wake_.notify_all();
}

void OutputPin::Push() {
    // Stopped, the connection cannot change, so these stay as they are.
    CComPtr<IMemAllocator> allocator = allocator_;
    CComPtr<IMemInputPin> input = input_;
    const VIDEOINFOHEADER* vih = connection_.VideoInfo();
    const REFERENCE_TIME interval = filter_.Camera().unthrottled ? 0 : std::max<REFERENCE_TIME>(vih->AvgTimePerFrame, 1);
    FramePainter painter(connection_.get().subtype, vih->bmiHeader.biWidth, vih->bmiHeader.biHeight);
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(interval / 10);
    auto due = Clock::now();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(streamMutex_);
            wake_.wait(lock, [&] { return quit_ || running_; });
            if (quit_) return;
            if (interval && wake_.wait_until(lock, due, [&] { return quit_ || !running_; })) continue;
        }
        const auto now = Clock::now();
        due = std::max(due + period, now - period);
        const HRESULT hr = DeliverOne(painter, allocator, input, interval);
        if (hr == S_OK) continue;
        if (FAILED(hr) && hr != VFW_E_NOT_COMMITTED && hr != VFW_E_WRONG_STATE)
            filter_.NotifyEvent(EC_ERRORABORT, static_cast<LONG_PTR>(hr), 0);
        // Downstream wants no more (or failed): nothing until the next run.
        std::unique_lock<std::mutex> lock(streamMutex_);
        wake_.wait(lock, [&] { return quit_ || !running_; });
    }
}

HRESULT OutputPin::DeliverOne(FramePainter& painter, IMemAllocator* allocator, IMemInputPin* input,
                              REFERENCE_TIME interval) {
    CComPtr<IMediaSample> sample;
    if (HRESULT hr = allocator->GetBuffer(&sample, nullptr, nullptr, 0); FAILED(hr)) return hr;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_UNEXPECTED;
    const size_t size = static_cast<size_t>(sample->GetSize());
    if (!painter.Paint(frames_, filter_.PictureNow(), data, size)) return E_UNEXPECTED;
    sample->SetActualDataLength(static_cast<LONG>(painter.FrameBytes()));
    REFERENCE_TIME start = 0;
    if (filter_.StreamTime(start)) {
        REFERENCE_TIME end = start + std::max<REFERENCE_TIME>(interval, 1);
        sample->SetTime(&start, &end);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    LONGLONG first = frames_, last = frames_ + 1;
    sample->SetMediaTime(&first, &last);
    sample->SetSyncPoint(TRUE);
    ++frames_;
    return input->Receive(sample);
}

}  // namespace vcam
