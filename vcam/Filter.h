// The virtual camera as DirectShow sees it: a source filter with one capture
// pin. A device moniker creates it and hands it its camera through
// IPersistPropertyBag::Load; a filter created without a moniker is the default
// camera.
#pragma once

#include <dshow.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Com.h"
#include "Frames.h"
#include "MediaTypes.h"
#include "VorkVcam.h"
#include "vork/comptr.h"

namespace vcam {

using ::CLSID_VorkVirtualCamera;

class Filter;

// One camera's controls (proc-amp or camera control): ranges, and what was set.
class ControlSet {
public:
    void Assign(std::map<LONG, vork::CameraProperty> properties);
    bool Present() const { return !properties_.empty(); }
    // What these settings, as a proc-amp's, do to the picture.
    vork::PictureSettings Picture();
    HRESULT GetRange(long property, long* min, long* max, long* step, long* def, long* caps);
    HRESULT Set(long property, long value, long flags);
    HRESULT Get(long property, long* value, long* flags);

private:
    std::mutex mutex_;
    std::map<LONG, vork::CameraProperty> properties_;
};

// IAMVideoProcAmp and IAMCameraControl have methods of the same names, so each
// is a part of the filter of its own that shares the filter's identity.
template <class Interface>
class ControlPart : public Interface {
public:
    ControlPart(IUnknown* owner, ControlSet& set) : owner_(owner), set_(set) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return owner_->QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
    HRESULT STDMETHODCALLTYPE GetRange(long p, long* min, long* max, long* step, long* def, long* caps) override {
        return set_.GetRange(p, min, max, step, def, caps);
    }
    HRESULT STDMETHODCALLTYPE Set(long p, long value, long flags) override { return set_.Set(p, value, flags); }
    HRESULT STDMETHODCALLTYPE Get(long p, long* value, long* flags) override { return set_.Get(p, value, flags); }

private:
    IUnknown* owner_;
    ControlSet& set_;
};

class OutputPin : public IPin, public IKsPropertySet, public IAMStreamConfig {
public:
    explicit OutputPin(Filter& filter);
    ~OutputPin();

    // IUnknown: the pin lives as long as its filter.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IKsPropertySet: the pin category, which capture graph code asks for.
    HRESULT STDMETHODCALLTYPE Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // IAMStreamConfig
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

    // The filter's state changes, under the filter's lock.
    HRESULT Activate();    // stopped to paused: commit the allocator, start the thread
    void Deactivate();     // to stopped: decommit, then join the thread
    void StateChanged(FILTER_STATE state);  // paused and running: tell the thread
    void DeviceRemoved();  // no frame ever again
    // The rates of a format of the stream caps at its size.
    HRESULT FrameRates(LONG index, SIZE size, std::vector<double>& rates) const;
    REFERENCE_TIME Interval();  // of the connection; 0 unconnected

private:
    std::vector<MediaType> OfferedTypes() const;
    // The format of a stream caps index, and whether that index is its
    // VIDEOINFOHEADER2 twin; none beyond the caps.
    const vork::VideoFormat* CapsFormat(int index, bool& info2) const;
    REFERENCE_TIME StreamInterval() const;
    bool Deliverable(const AM_MEDIA_TYPE& type) const;
    HRESULT TryConnection(IPin* receiver, const AM_MEDIA_TYPE& type);
    HRESULT DecideAllocator(IMemInputPin* input, const AM_MEDIA_TYPE& type);
    void ReleaseConnection();
    void Push();
    HRESULT DeliverOne(FramePainter& painter, IMemAllocator* allocator, IMemInputPin* input, REFERENCE_TIME interval);

    Filter& filter_;
    // What is connected; changed only while stopped, under the filter's lock.
    CComPtr<IPin> peer_;
    CComPtr<IMemInputPin> input_;
    CComPtr<IMemAllocator> allocator_;
    MediaType connection_;
    MediaType current_;     // the format SetFormat chose; empty until then
    // The streaming thread.
    std::thread thread_;
    std::mutex streamMutex_;
    std::condition_variable wake_;
    bool quit_ = false;
    bool running_ = false;
    bool removed_ = false;
    ULONG runs_ = 0;      // how often the filter went to running
    ULONG frames_ = 0;    // frames made since the camera was created; the streaming thread's
    LONG sinceRun_ = 0;   // frames made since the last run; the streaming thread's
    ULONG made_ = 0;      // frames made, delivered or lost on the way; the streaming thread's
};

class Filter final : public IBaseFilter, public IPersistPropertyBag, public IAMVideoControl {
public:
    Filter();
    ~Filter();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    // IPersist, shared by IBaseFilter and IPersistPropertyBag.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }
    // IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE InitNew() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }
    // IAMVideoControl: no flipping or triggers, only the rates.
    HRESULT STDMETHODCALLTYPE GetCaps(IPin* pin, LONG* flags) override;
    HRESULT STDMETHODCALLTYPE SetMode(IPin* pin, LONG mode) override;
    HRESULT STDMETHODCALLTYPE GetMode(IPin* pin, LONG* mode) override;
    HRESULT STDMETHODCALLTYPE GetCurrentActualFrameRate(IPin* pin, LONGLONG* interval) override;
    HRESULT STDMETHODCALLTYPE GetMaxAvailableFrameRate(IPin* pin, LONG index, SIZE size, LONGLONG* interval) override;
    HRESULT STDMETHODCALLTYPE GetFrameRateList(IPin* pin, LONG index, SIZE size, LONG* count, LONGLONG** intervals) override;

    // For the pin.
    std::mutex& Lock() { return mutex_; }
    FILTER_STATE State() const { return state_; }
    const vork::DescribedCamera& Camera() const { return camera_; }
    IFilterGraph* Graph();
    // The stream time now, and whether there is a clock to tell it.
    bool StreamTime(REFERENCE_TIME& now);
    void NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);
    // What the proc-amp's settings do to the picture now.
    vork::PictureSettings PictureNow() { return procAmp_.Picture(); }

    // The registered camera this filter was bound to; empty for one created
    // without a moniker.
    const std::wstring& Instance() const { return instance_; }
    // The camera was unplugged (for good, for this filter) or came back: the
    // graph the filter is in hears EC_DEVICE_LOST with 0, then with 1.
    void Unplugged();
    void Returned();

private:
    void UseCamera(const vork::DescribedCamera& camera);
    bool Usable(HRESULT& hr) const;

    ModuleReference module_;
    RefCount refs_;
    std::mutex mutex_;  // state changes and connections
    FILTER_STATE state_ = State_Stopped;
    // What the streaming thread reads, under a lock of its own, so that a stop
    // that holds the filter's lock can join the thread.
    std::mutex timeMutex_;
    REFERENCE_TIME start_ = 0;
    CComPtr<IReferenceClock> clock_;
    IFilterGraph* graph_ = nullptr;  // the graph holds the filter, not the other way round
    std::wstring name_;
    vork::DescribedCamera camera_;
    std::wstring instance_;  // set once by Load, before the filter is in a graph
    // Whether the camera was unplugged under it, then came back; under mutex_.
    bool unplugged_ = false;
    bool returned_ = false;
    bool ranOnce_ = false;
    ControlSet procAmp_;
    ControlSet cameraControl_;
    ControlPart<IAMVideoProcAmp> procAmpPart_;
    ControlPart<IAMCameraControl> cameraControlPart_;
    OutputPin pin_;
};

// The formats the default camera and every described camera paint: the shared
// defaults without the ones this filter cannot make.
std::vector<vork::VideoFormat> PaintableDefaults();

}  // namespace vcam
