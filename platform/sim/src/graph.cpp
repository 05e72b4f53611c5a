// The filter graph manager: filters and their connections, run control with
// state transitions, the event queue, and the video window it exposes.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>

#include "dshow_internal.h"
#include "transform.h"

namespace vorksim {

class FilterGraph : public ComObject<IGraphBuilder, IMediaControl, IMediaEventEx, IVideoWindow, IMediaEventSink> {
public:
    FilterGraph() : eventHandle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    ~FilterGraph() override {
        StopFilters();
        for (auto& entry : filters_) {
            entry.filter->JoinFilterGraph(nullptr, nullptr);
            entry.filter->Release();
        }
        LONG code;
        LONG_PTR p1, p2;
        while (PopEvent(code, p1, p2)) FreeEventParams(code, p1, p2);
        CloseHandle(eventHandle_);
    }

    // ---- IFilterGraph / IGraphBuilder ----
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, LPCWSTR name) override {
        if (!filter) return E_POINTER;
        FilterBase* base = dynamic_cast<FilterBase*>(filter);
        if (!base) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(controlMutex_);
        return AddFilterLocked(filter, base, name ? name : L"");
    }
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override {
        std::lock_guard<std::mutex> lock(controlMutex_);
        return RemoveFilterLocked(filter);
    }
    HRESULT AddFilterLocked(IBaseFilter* filter, FilterBase* base, const std::wstring& n) {
        for (const auto& e : filters_) {
            if (e.filter == filter) return VFW_E_DUPLICATE_NAME;
            if (!n.empty() && e.name == n) return VFW_E_DUPLICATE_NAME;
        }
        filter->AddRef();
        filters_.push_back({filter, base, n});
        filter->JoinFilterGraph(this, n.c_str());
        return S_OK;
    }
    HRESULT RemoveFilterLocked(IBaseFilter* filter) {
        auto it = std::find_if(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.filter == filter; });
        if (it == filters_.end()) return VFW_E_NOT_FOUND;
        for (PinBase* pin : it->base->Pins()) {
            if (PinBase* peer = pin->peer()) peer->Disconnect();
            pin->Disconnect();
        }
        filter->JoinFilterGraph(nullptr, nullptr);
        filter->Release();
        filters_.erase(it);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** enumFilters) override {
        if (!enumFilters) return E_POINTER;
        std::lock_guard<std::mutex> lock(controlMutex_);
        std::vector<IBaseFilter*> filters;
        for (const auto& e : filters_) filters.push_back(e.filter);
        *enumFilters = new CountedEnumerator<IEnumFilters, IBaseFilter>(std::move(filters));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter** filter) override {
        if (!filter) return E_POINTER;
        std::lock_guard<std::mutex> lock(controlMutex_);
        for (const auto& e : filters_) {
            if (name && e.name == name) {
                *filter = e.filter;
                e.filter->AddRef();
                return S_OK;
            }
        }
        *filter = nullptr;
        return VFW_E_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override {
        return ConnectPins(out, in, type);
    }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) override {
        auto* p = dynamic_cast<PinBase*>(pin);
        if (!p) return E_POINTER;
        std::lock_guard<std::mutex> lock(controlMutex_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        return p->Disconnect();
    }
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return S_OK; }
    // Intelligent connect: the pins directly, else through one or two transform
    // filters that the graph adds (and takes out again when it fails).
    HRESULT STDMETHODCALLTYPE Connect(IPin* out, IPin* in) override {
        if (HRESULT hr = CallFault("IGraphBuilder::Connect"); FAILED(hr)) return hr;
        return ConnectPins(out, in, nullptr, true);
    }
    HRESULT STDMETHODCALLTYPE Render(IPin*) override { return E_NOTIMPL; }

    // ---- IMediaControl ----
    HRESULT STDMETHODCALLTYPE Run() override {
        std::lock_guard<std::mutex> lock(controlMutex_);
        CameraFaults faults = SourceFaults();
        if (FAILED(faults.runResult)) return faults.runResult;
        if (state_ == State_Running && !Transitioning()) return S_OK;
        previous_ = state_;
        state_ = State_Running;
        Census(true);
        // Downstream filters run before the sources, as DirectShow runs them,
        // so that no frame reaches a filter still stopped from the last run.
        for (int sources = 0; sources < 2; ++sources) {
            for (auto& e : filters_) {
                if (IsSource(e.base) != (sources == 1)) continue;
                // A device that is gone or held elsewhere fails the whole run.
                if (const HRESULT hr = e.filter->Run(0); FAILED(hr)) {
                    StopFiltersLocked();
                    state_ = State_Stopped;
                    Census(false);
                    return hr;
                }
            }
        }
        if (faults.startFallsBack) {  // a filter that fails once the run is under way
            StopFiltersLocked();
            state_ = State_Stopped;
            Census(false);
            return S_FALSE;
        }
        transitionEnd_ = std::chrono::steady_clock::now();
        if (faults.startStuck) transitionEnd_ = std::chrono::steady_clock::time_point::max();
        else transitionEnd_ += std::chrono::milliseconds(faults.startDelayMs);
        stopStuck_ = false;
        return Transitioning() ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        std::lock_guard<std::mutex> lock(controlMutex_);
        StopFiltersLocked();
        for (auto& e : filters_) e.filter->Pause();
        state_ = State_Paused;
        Census(false);
        transitionEnd_ = {};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        std::lock_guard<std::mutex> lock(controlMutex_);
        previous_ = state_;
        StopFiltersLocked();
        state_ = State_Stopped;
        Census(false);
        transitionEnd_ = {};
        stopStuck_ = previous_ != State_Stopped && SourceFaults().stopStuck;
        return stopStuck_ ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* state) override {
        if (!state) return E_POINTER;
        if (HRESULT hr = CallFault("IMediaControl::GetState", msTimeout); FAILED(hr)) return hr;
        std::unique_lock<std::mutex> lock(controlMutex_);
        if (stopStuck_) {
            // A filter that does not stop: the graph still reports the state it left.
            *state = previous_;
            return VFW_S_STATE_INTERMEDIATE;
        }
        if (Transitioning()) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max<LONG>(0, msTimeout));
            if (transitionEnd_ != std::chrono::steady_clock::time_point::max())
                transitionDone_.wait_until(lock, std::min(deadline, transitionEnd_));
            else
                transitionDone_.wait_until(lock, deadline);
            if (Transitioning()) {
                *state = previous_;
                return VFW_S_STATE_INTERMEDIATE;
            }
        }
        *state = state_;
        // Capture sources are live: paused, they deliver nothing, and say so.
        return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE StopWhenReady() override { return Stop(); }

    // ---- IMediaEventEx ----
    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* event) override {
        if (!event) return E_POINTER;
        if (HRESULT hr = CallFault("IMediaEventEx::GetEventHandle"); FAILED(hr)) return hr;
        *event = reinterpret_cast<OAEVENT>(eventHandle_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout) override {
        if (!code || !param1 || !param2) return E_POINTER;
        if (msTimeout != 0) WaitForSingleObject(eventHandle_, msTimeout < 0 ? INFINITE : static_cast<DWORD>(msTimeout));
        if (!PopEvent(*code, *param1, *param2)) return E_ABORT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR) override {
        // EC_DEVICE_LOST's filter comes without a reference (see SourceFilter::Lost).
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) override {
        std::lock_guard<std::mutex> lock(eventMutex_);
        notifyWindow_ = reinterpret_cast<HWND>(window);
        notifyMessage_ = static_cast<UINT>(message);
        notifyInstance_ = instance;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* flags) override {
        if (!flags) return E_POINTER;
        *flags = 0;
        return S_OK;
    }

    // ---- IVideoWindow: the settings are kept; there is no video renderer to show ----
    HRESULT STDMETHODCALLTYPE put_WindowStyle(LONG style) override {
        windowStyle_ = style;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_WindowStyle(LONG* style) override {
        if (!style) return E_POINTER;
        *style = windowStyle_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Visible(LONG visible) override {
        visible_ = visible;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Visible(LONG* visible) override {
        if (!visible) return E_POINTER;
        *visible = visible_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Owner(OAHWND owner) override {
        owner_ = owner;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Owner(OAHWND* owner) override {
        if (!owner) return E_POINTER;
        *owner = owner_;
        return S_OK;
    }

    // A filter's event; for EC_DEVICE_LOST param1 is the filter's IUnknown
    // without a reference.
    HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override {
        HWND window = nullptr;
        UINT message = 0;
        LONG_PTR instance = 0;
        {
            std::lock_guard<std::mutex> lock(eventMutex_);
            events_.push_back({code, param1, param2});
            SetEvent(eventHandle_);
            window = notifyWindow_;
            message = notifyMessage_;
            instance = notifyInstance_;
        }
        if (window) PostMessageW(window, message, 0, instance);
        return S_OK;
    }

private:
    struct Entry {
        IBaseFilter* filter;
        FilterBase* base;
        std::wstring name;
    };
    struct Event {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };

    bool Transitioning() const {
        return state_ == State_Running && std::chrono::steady_clock::now() < transitionEnd_;
    }

    // The faults of the capture source in this graph, if there is one.
    CameraFaults SourceFaults() {
        for (auto& e : filters_) {
            if (auto camera = CameraOf(e.base)) return FaultsOf(*camera);
        }
        return {};
    }

    HRESULT ConnectPins(IPin* out, IPin* in, const AM_MEDIA_TYPE* type, bool throughFilters = false) {
        auto* o = dynamic_cast<PinBase*>(out);
        auto* i = dynamic_cast<PinBase*>(in);
        if (!o || !i) return E_POINTER;
        std::lock_guard<std::mutex> lock(controlMutex_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!Holds(o->owner()) || !Holds(i->owner())) return VFW_E_NOT_IN_GRAPH;
        const HRESULT hr = o->Connect(i, type);
        if (!throughFilters || hr != VFW_E_NO_ACCEPTABLE_TYPES) return hr;
        return ConnectThrough(o, i, 2) ? S_OK : VFW_E_CANNOT_CONNECT;
    }

    bool ConnectThrough(PinBase* out, PinBase* in, int depth) {
        for (TransformKind kind : TransformKinds()) {
            IBaseFilter* filter = CreateTransform(kind);
            auto* marker = dynamic_cast<TransformMarker*>(filter);
            auto* base = dynamic_cast<FilterBase*>(filter);
            std::wstring name = marker->KindName();
            for (int n = 2; std::any_of(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.name == name; });
                 ++n)
                name = std::wstring(marker->KindName()) + L" " + std::to_wstring(n);
            bool connected = false;
            if (SUCCEEDED(AddFilterLocked(filter, base, name))) {
                if (out->Connect(marker->Input(), nullptr) == S_OK) {
                    connected = marker->Output()->Connect(in, nullptr) == S_OK ||
                                (depth > 1 && ConnectThrough(marker->Output(), in, depth - 1));
                    if (!connected) {
                        out->Disconnect();
                        marker->Input()->Disconnect();
                    }
                }
                if (!connected) RemoveFilterLocked(filter);
            }
            filter->Release();
            if (connected) return true;
        }
        return false;
    }

    static bool IsSource(FilterBase* filter) {
        for (PinBase* pin : filter->Pins())
            if (pin->direction() == PINDIR_INPUT) return false;
        return true;
    }

    bool Holds(FilterBase* filter) const {
        return std::any_of(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.base == filter; });
    }

    void StopFiltersLocked() {
        for (auto& e : filters_) e.filter->Stop();
    }
    void StopFilters() {
        std::lock_guard<std::mutex> lock(controlMutex_);
        StopFiltersLocked();
        state_ = State_Stopped;
        Census(false);
    }

    // Counts this graph among the running ones of the process, once.
    void Census(bool running) {
        if (running == counted_) return;
        counted_ = running;
        RecordRunningGraph(running);
    }

    bool PopEvent(LONG& code, LONG_PTR& param1, LONG_PTR& param2) {
        std::lock_guard<std::mutex> lock(eventMutex_);
        if (events_.empty()) return false;
        const Event e = events_.front();
        events_.pop_front();
        if (events_.empty()) ResetEvent(eventHandle_);
        code = e.code;
        param1 = e.param1;
        param2 = e.param2;
        return true;
    }

    std::mutex controlMutex_;  // filters, connections and state; never taken by streaming threads
    std::condition_variable transitionDone_;
    std::vector<Entry> filters_;
    FILTER_STATE state_ = State_Stopped;
    bool counted_ = false;  // guarded by controlMutex_
    FILTER_STATE previous_ = State_Stopped;
    std::chrono::steady_clock::time_point transitionEnd_{};
    bool stopStuck_ = false;

    std::mutex eventMutex_;
    std::deque<Event> events_;
    HANDLE eventHandle_;
    HWND notifyWindow_ = nullptr;
    UINT notifyMessage_ = 0;
    LONG_PTR notifyInstance_ = 0;

    std::atomic<LONG> windowStyle_{0};
    std::atomic<LONG> visible_{0};
    std::atomic<OAHWND> owner_{0};
};

FilterGraph* GraphFromInterface(IFilterGraph* graph) { return graph ? dynamic_cast<FilterGraph*>(graph) : nullptr; }
IFilterGraph* GraphInterface(FilterGraph* graph) { return static_cast<IGraphBuilder*>(graph); }
void GraphNotify(FilterGraph* graph, LONG code, LONG_PTR param1, LONG_PTR param2) {
    graph->Notify(code, param1, param2);
}
HRESULT CreateFilterGraph(REFIID iid, void** object) { return CreateAndQuery<FilterGraph>(iid, object); }

}  // namespace vorksim
