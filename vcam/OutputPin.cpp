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
// the first being the default. A camera of VIDEOINFOHEADER2 offers each
// format in it first, as many Windows camera drivers do.
std::vector<MediaType> OutputPin::OfferedTypes() const {
    if (!current_.Empty()) return {current_};
    std::vector<MediaType> types;
    for (const vork::VideoFormat& f : filter_.Camera().formats) {
        if (filter_.Camera().videoInfo2) types.push_back(TypeOf(f, true));
        types.push_back(TypeOf(f));
    }
    return types;
}

namespace {

// The camera's format that a type asks for, or none.
const vork::VideoFormat* FormatAsked(const AM_MEDIA_TYPE& type, const vork::DescribedCamera& camera) {
    for (const vork::VideoFormat& f : camera.formats)
        if (Asks(type, f, camera.videoInfo2)) return &f;
    return nullptr;
}

// The camera's own type for what a request asks: its image size and masks,
// in the request's format block, with its row order and frame interval.
MediaType Completed(const AM_MEDIA_TYPE& request, const vork::DescribedCamera& camera) {
    const vork::VideoFormat* f = FormatAsked(request, camera);
    if (!f) return MediaType();
    MediaType type = TypeOf(*f, IsVideoInfo2(request));
    const VideoHeader asked = HeaderOf(request);
    const VideoHeader made = HeaderOf(type.get());
    if (*asked.interval) *made.interval = *asked.interval;
    made.bitmap->biHeight = asked.bitmap->biHeight;
    return type;
}

}  // namespace

// One of the camera's formats; after SetFormat, the one it chose.
bool OutputPin::Deliverable(const AM_MEDIA_TYPE& type) const {
    const vork::VideoFormat* f = FormatAsked(type, filter_.Camera());
    return f && (current_.Empty() || FormatAsked(current_.get(), filter_.Camera()) == f);
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
    MediaType type = Completed(request, filter_.Camera());
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
        MediaType type = Completed(*request, filter_.Camera());
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
    *count = static_cast<int>(filter_.Camera().formats.size() * (filter_.Camera().videoInfo2 ? 2 : 1));
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

const vork::VideoFormat* OutputPin::CapsFormat(int index, bool& info2) const {
    const vork::DescribedCamera& camera = filter_.Camera();
    const int each = camera.videoInfo2 ? 2 : 1;
    if (index < 0 || index >= static_cast<int>(camera.formats.size()) * each) return nullptr;
    info2 = camera.videoInfo2 && index % 2 == 0;
    return &camera.formats[static_cast<size_t>(index / each)];
}

HRESULT OutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
    if (!type || !caps) return E_POINTER;
    bool info2 = false;
    const vork::VideoFormat* format = CapsFormat(index, info2);
    if (!format) return S_FALSE;
    const vork::VideoFormat& f = *format;
    *type = TypeOf(f, info2).TaskCopy();
    if (!*type) return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS c{};
    c.guid = info2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
    c.InputSize = c.MinCroppingSize = c.MaxCroppingSize = c.MinOutputSize = c.MaxOutputSize = {f.width, f.height};
    c.CropGranularityX = c.CropGranularityY = c.OutputGranularityX = c.OutputGranularityY = 1;
    const std::vector<double> rates = RatesOf(f);
    c.MinFrameInterval = IntervalOf(*std::max_element(rates.begin(), rates.end()));
    // One rate: down to 0.1 frames per second; a list: its slowest.
    c.MaxFrameInterval = f.rates.empty() ? 10000000LL * 10 : IntervalOf(*std::min_element(rates.begin(), rates.end()));
    const LONGLONG bits = static_cast<LONGLONG>(vork::StrideOf(f.subtype, f.width)) * f.height * 8;
    c.MinBitsPerSecond = static_cast<LONG>(std::min<LONGLONG>(bits / 10, 0x7FFFFFFF));
    c.MaxBitsPerSecond = static_cast<LONG>(std::min<LONGLONG>(static_cast<LONGLONG>(bits * f.fps), 0x7FFFFFFF));
    std::memcpy(caps, &c, sizeof(c));
    return S_OK;
}

HRESULT OutputPin::FrameRates(LONG index, SIZE size, std::vector<double>& rates) const {
    bool info2 = false;
    const vork::VideoFormat* f = CapsFormat(index, info2);
    if (!f || size.cx != f->width || size.cy != f->height) return E_INVALIDARG;
    rates = RatesOf(*f);
    return S_OK;
}

REFERENCE_TIME OutputPin::Interval() {
    std::lock_guard<std::mutex> lock(filter_.Lock());
    const VideoHeader header = HeaderOf(connection_.get());
    return header.interval ? *header.interval : 0;
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
        if (state == State_Running && !running_) ++runs_;
        running_ = state == State_Running;
    }
    wake_.notify_all();
}

void OutputPin::DeviceRemoved() {
    {
        std::lock_guard<std::mutex> lock(streamMutex_);
        removed_ = true;
    }
    wake_.notify_all();
}

// The interval between frames: the connection's, or the format's own rate
// where the connection says 0; none for a camera that streams flat out.
REFERENCE_TIME OutputPin::StreamInterval() const {
    if (filter_.Camera().unthrottled) return 0;
    const REFERENCE_TIME asked = *HeaderOf(connection_.get()).interval;
    if (asked) return asked;
    const vork::VideoFormat* f = FormatAsked(connection_.get(), filter_.Camera());
    return f ? IntervalOf(f->fps) : IntervalOf(30.0);
}

void OutputPin::Push() {
    // Stopped, the connection cannot change, so these stay as they are.
    CComPtr<IMemAllocator> allocator = allocator_;
    CComPtr<IMemInputPin> input = input_;
    const BITMAPINFOHEADER& bitmap = *HeaderOf(connection_.get()).bitmap;
    const REFERENCE_TIME interval = StreamInterval();
    FramePainter painter(connection_.get().subtype, bitmap.biWidth, bitmap.biHeight);
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(interval / 10);
    const auto startDelay = std::chrono::milliseconds(filter_.Camera().startDelayMs);
    auto due = Clock::now();
    ULONG run = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(streamMutex_);
            wake_.wait(lock, [&] { return quit_ || (running_ && !removed_); });
            if (quit_) return;
            // Each run starts the camera afresh: its delay, then its dark frames.
            const bool started = run != runs_;
            if (started) {
                run = runs_;
                due = Clock::now() + startDelay;
                sinceRun_ = 0;
            }
            if ((interval || started) && wake_.wait_until(lock, due, [&] { return quit_ || !running_ || removed_; }))
                continue;
        }
        const auto now = Clock::now();
        due = std::max(due + period, now - period);
        // A camera on a busy bus loses every Nth frame it makes: the next comes a period later.
        const auto dropEvery = static_cast<ULONG>(filter_.Camera().dropEvery);
        if (dropEvery > 0 && ++made_ % dropEvery == 0) continue;
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
    const LONG dark = filter_.Camera().darkFrames;
    vork::PictureSettings settings = filter_.PictureNow();
    if (sinceRun_ < dark) settings = Dimmed(settings, (sinceRun_ + 1.0) / (dark + 1.0));
    ++sinceRun_;
    if (!painter.Paint(frames_, settings, data, size)) return E_UNEXPECTED;
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
