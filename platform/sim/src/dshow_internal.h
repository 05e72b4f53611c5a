// Internals of the simulated DirectShow shared by its filters and the graph.
#pragma once

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <dshow.h>

#include "vorksim/cameras.h"
#include "vorksim/com.h"
#include "vork/frameformat.h"

namespace vorksim {

VORKSIM_INTERFACE(IBaseFilter, &IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist);
VORKSIM_INTERFACE(IAMVideoProcAmp, &IID_IAMVideoProcAmp);
VORKSIM_INTERFACE(IAMCameraControl, &IID_IAMCameraControl);
VORKSIM_INTERFACE(ISampleGrabber, &IID_ISampleGrabber);
VORKSIM_INTERFACE(IGraphBuilder, &IID_IGraphBuilder, &IID_IFilterGraph);
VORKSIM_INTERFACE(IMediaControl, &IID_IMediaControl);
VORKSIM_INTERFACE(IMediaEventEx, &IID_IMediaEventEx, &IID_IMediaEvent);
VORKSIM_INTERFACE(IVideoWindow, &IID_IVideoWindow);
VORKSIM_INTERFACE(ICreateDevEnum, &IID_ICreateDevEnum);
VORKSIM_INTERFACE(IEnumPins, &IID_IEnumPins);
VORKSIM_INTERFACE(IEnumFilters, &IID_IEnumFilters);
VORKSIM_INTERFACE(IMediaSample, &IID_IMediaSample);
VORKSIM_INTERFACE(IMediaEventSink, &IID_IMediaEventSink);
VORKSIM_INTERFACE(IAMVideoControl, &IID_IAMVideoControl);

// An enumerator over counted things (pins, filters, monikers): it holds a
// reference to each for its own life and hands each out with one more. With a
// call name, Next can be made to fail through CallFault.
template <class Enum, class Interface>
class CountedEnumerator : public ComObject<Enum> {
public:
    explicit CountedEnumerator(std::vector<Interface*> items, std::string nextCall = {})
        : items_(std::move(items)), nextCall_(std::move(nextCall)) {
        for (Interface* item : items_) item->AddRef();
    }
    ~CountedEnumerator() override {
        for (Interface* item : items_) item->Release();
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, Interface** out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        if (!nextCall_.empty()) {
            if (HRESULT hr = CallFault(nextCall_); FAILED(hr)) {
                if (fetched) *fetched = 0;
                return hr;
            }
        }
        ULONG n = 0;
        while (n < count && next_ < items_.size()) {
            out[n] = items_[next_++];
            out[n++]->AddRef();
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        next_ += count;
        return next_ <= items_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Enum** clone) override {
        if (!clone) return E_POINTER;
        auto* copy = new CountedEnumerator(items_, nextCall_);
        copy->next_ = next_;
        *clone = copy;
        return S_OK;
    }

private:
    std::vector<Interface*> items_;
    std::string nextCall_;
    size_t next_ = 0;
};

// ---- Media types ---------------------------------------------------------------
void CopyMediaType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from);  // deep; `to` must be empty
void FreeMediaType(AM_MEDIA_TYPE& type);
AM_MEDIA_TYPE* CreateTaskMediaType(const AM_MEDIA_TYPE& from);     // whole record in task memory

// An owned media type record.
class MediaType {
public:
    MediaType() { std::memset(&type_, 0, sizeof(type_)); }
    explicit MediaType(const AM_MEDIA_TYPE& from) : MediaType() { CopyMediaType(type_, from); }
    MediaType(const MediaType& other) : MediaType(other.type_) {}
    MediaType& operator=(const MediaType& other) {
        if (this != &other) {
            FreeMediaType(type_);
            CopyMediaType(type_, other.type_);
        }
        return *this;
    }
    ~MediaType() { FreeMediaType(type_); }
    const AM_MEDIA_TYPE& get() const { return type_; }
    AM_MEDIA_TYPE& get() { return type_; }
    const VIDEOINFOHEADER* VideoInfo() const {
        return IsEqualGUID(type_.formattype, FORMAT_VideoInfo) && type_.cbFormat >= sizeof(VIDEOINFOHEADER)
                   ? reinterpret_cast<const VIDEOINFOHEADER*>(type_.pbFormat)
                   : nullptr;
    }
    // The bitmap header of either video block.
    const BITMAPINFOHEADER* Bitmap() const { return vork::BitmapHeaderOf(type_); }

private:
    AM_MEDIA_TYPE type_;
};

// The media type a camera delivers for one of its formats.
MediaType MediaTypeFor(const VideoFormat& format);
MediaType MediaType2For(const VideoFormat& format);
// The VIDEOINFOHEADER of either block: VIDEOINFOHEADER2's fields that it shares.
VIDEOINFOHEADER PlainVideoInfo(const AM_MEDIA_TYPE& type);
using vork::BitCountOf;
using vork::IsRgbSubtype;

// ---- Cameras ----------------------------------------------------------------------
class SourceFilter;

struct Camera {
    CameraId id = 0;
    CameraDescription description;
    // Device state, shared by every filter bound to the camera; guarded by mutex.
    std::mutex mutex;
    MediaType currentFormat;
    bool removed = false;
    unsigned instance = 0;        // counts removals: a filter of an older one is dead
    bool unplugScheduled = false;
    long framesDelivered = 0;
    long framesMade = 0;  // delivered or lost on the way
    long setFormatCalls = 0;
    ULONG requestedSampleSize = 0;
    VIDEOINFOHEADER requestedVideoInfo{};
    std::vector<SourceFilter*> filtersInGraphs;
};

std::vector<std::shared_ptr<Camera>> EnumerableCameras();
CameraFaults FaultsOf(Camera& camera);
void RecordPropertyFrame(const PropertyFrameCall& call);
// A graph of the process starts or stops running.
void RecordRunningGraph(bool running);

// ---- Filters and pins ---------------------------------------------------------------
class FilterGraph;
class FilterBase;

// A pin; its reference count is its filter's.
class PinBase : public IPin {
public:
    PinBase(FilterBase* owner, PIN_DIRECTION direction, const wchar_t* name);
    virtual ~PinBase();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mediaType) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mediaType) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mediaType) override;

    // The types an output pin proposes, best first.
    virtual std::vector<MediaType> ProposedTypes() { return {}; }
    // Whether an input pin takes a type.
    virtual bool Accepts(const AM_MEDIA_TYPE&) { return true; }
    // Frames pushed downstream; S_FALSE asks the sender to stop.
    virtual HRESULT Receive(const BYTE*, LONG, REFERENCE_TIME) { return S_OK; }
    virtual void OnConnected() {}
    virtual void OnDisconnected() {}

    FilterBase* owner() const { return owner_; }
    PIN_DIRECTION direction() const { return direction_; }
    PinBase* peer() const;
    bool IsConnected() const;
    MediaType ConnectionType() const;
    // Replaces the type of an existing connection on both sides.
    void ChangeConnectionType(const AM_MEDIA_TYPE& type);
    HRESULT Deliver(const BYTE* data, LONG length, REFERENCE_TIME time);

    // Both ends of a connection are set under one lock.
    static HRESULT Link(PinBase* out, PinBase* in, const AM_MEDIA_TYPE& type);

protected:
    FilterBase* owner_;
    PIN_DIRECTION direction_;
    std::wstring name_;
    mutable std::mutex mutex_;
    PinBase* peer_ = nullptr;
    MediaType type_;
};

// What every simulated filter shares: its name, its graph (not counted: the graph
// holds the filter, never the reverse), its state and its pins.
class FilterBase {
public:
    virtual ~FilterBase() = default;
    virtual IBaseFilter* AsFilter() = 0;
    virtual std::vector<PinBase*> Pins() = 0;
    virtual void OnRun() {}
    virtual void OnStop() {}

    void SetGraph(FilterGraph* graph, LPCWSTR name);
    FilterGraph* Graph();
    std::wstring Name();
    void Notify(LONG code, LONG_PTR param1, LONG_PTR param2);
    FILTER_STATE State();
    void SetState(FILTER_STATE state);

protected:
    HRESULT EnumPinsImpl(IEnumPins** enumPins);
    HRESULT QueryFilterInfoImpl(FILTER_INFO* info);

private:
    std::mutex mutex_;
    FilterGraph* graph_ = nullptr;
    std::wstring name_;
    FILTER_STATE state_ = State_Stopped;
};

// The IBaseFilter methods that every simulated filter implements the same way.
template <class... Interfaces>
class SimFilter : public ComObject<Interfaces...>, public FilterBase {
public:
    IBaseFilter* AsFilter() override { return this; }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override {
        if (!classId) return E_POINTER;
        *classId = GUID_NULL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        OnStop();
        SetState(State_Stopped);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        SetState(State_Paused);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override {
        SetState(State_Running);
        OnRun();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
        if (!state) return E_POINTER;
        *state = State();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
        if (!clock) return E_POINTER;
        *clock = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** enumPins) override { return EnumPinsImpl(enumPins); }
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin** pin) override {
        if (pin) *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override { return QueryFilterInfoImpl(info); }
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
};

FilterGraph* GraphFromInterface(IFilterGraph* graph);

template <class... Interfaces>
HRESULT STDMETHODCALLTYPE SimFilter<Interfaces...>::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    SetGraph(GraphFromInterface(graph), name);
    return S_OK;
}

// Registered with the COM class registry when the platform library loads.
HRESULT CreateSampleGrabber(REFIID iid, void** object);
HRESULT CreateNullRenderer(REFIID iid, void** object);
HRESULT CreateFilterGraph(REFIID iid, void** object);
HRESULT CreateSystemDeviceEnum(REFIID iid, void** object);

// The graph's side, as the filters see it.
IFilterGraph* GraphInterface(FilterGraph* graph);
void GraphNotify(FilterGraph* graph, LONG code, LONG_PTR param1, LONG_PTR param2);

// Source filters of a camera, for removal and aborts; called with the camera's
// mutex held, which keeps the filter alive.
void SourceDeviceLost(SourceFilter* source);
void SourceDeviceArrived(SourceFilter* source);
bool SourceIsDead(SourceFilter* source);
void SourceAbort(SourceFilter* source, HRESULT hr);
// Starts the camera's unplug timer at its first Run, when it has one. Called
// without the camera's mutex: the registry's is taken before a camera's.
void ScheduleUnplug(Camera& camera);
std::shared_ptr<Camera> CameraOf(FilterBase* filter);
HRESULT CreateSourceFilter(const std::shared_ptr<Camera>& camera, REFIID iid, void** object);

}  // namespace vorksim
