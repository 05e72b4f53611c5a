// The capture source filter of a virtual camera: one output pin with its stream
// configuration, the optional proc-amp and camera-control interfaces, property
// pages, and a streaming thread that renders the test pattern.
#include <chrono>
#include <map>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "dshow_internal.h"
#include "pixels.h"

namespace vorksim {

VORKSIM_INTERFACE(IAMStreamConfig, &IID_IAMStreamConfig);

// ---- Test pattern -------------------------------------------------------------------

namespace {

struct PixelWriter {
    GUID subtype;
    LONG width;
    LONG height;
    DWORD stride;
    bool bottomUp;

    explicit PixelWriter(const VideoFormat& f)
        : subtype(f.subtype), width(f.width), height(f.height),
          stride(vork::StrideOf(f.subtype, f.width)),
          bottomUp(IsRgbSubtype(f.subtype)) {}

    BYTE* Row(BYTE* frame, LONG y) const { return frame + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride; }

    void Put(BYTE* frame, LONG x, LONG y, BYTE r, BYTE g, BYTE b) const {
        BYTE* row = Row(frame, y);
        if (PutRgbPixel(row, x, subtype, r, g, b)) return;
        // YUY2: luma and neutral chroma, enough for the counter's black and white blocks.
        BYTE* p = row + (x / 2) * 4;
        p[(x % 2) * 2] = static_cast<BYTE>((r * 77 + g * 150 + b * 29) >> 8);
        p[1] = p[3] = 128;
    }

    bool IsBright(const BYTE* frame, LONG x, LONG y) const {
        const BYTE* row = Row(const_cast<BYTE*>(frame), y);
        if (subtype == MEDIASUBTYPE_RGB24) return row[x * 3 + 1] > 128;
        if (subtype == MEDIASUBTYPE_RGB32) return row[x * 4 + 1] > 128;
        if (subtype == MEDIASUBTYPE_RGB565 || subtype == MEDIASUBTYPE_RGB555) {
            uint16_t v;
            std::memcpy(&v, row + x * 2, 2);
            return (v & 0x1F) > 15;
        }
        if (subtype == MEDIASUBTYPE_RGB8) return row[x] > 128;
        return row[(x / 2) * 4 + (x % 2) * 2] > 128;
    }
};

}  // namespace

bool FrameToPicture(const BYTE* frame, size_t size, const VideoFormat& format, std::vector<BYTE>& rgb) {
    RgbPicture picture;
    if (!UnpackFrame(frame, size, format.subtype, format.width, format.height, picture)) return false;
    rgb = std::move(picture.rgb);
    return true;
}

bool MakePatternFrame(const VideoFormat& format, std::vector<BYTE>& frame) {
    RgbPicture picture;
    picture.Resize(format.width, format.height);
    vork::PaintPattern(format.width, format.height, picture.rgb);
    return PackFrame(picture, format.subtype, frame);
}

bool ConvertFrame(const BYTE* frame, size_t size, const VideoFormat& from, const GUID& to, std::vector<BYTE>& out) {
    thread_local RgbPicture picture;
    return UnpackFrame(frame, size, from.subtype, from.width, from.height, picture) && PackFrame(picture, to, out);
}

long DecodeFrameCounter(const BYTE* frame, const VideoFormat& format) {
    if (!frame || IsCompressedSubtype(format.subtype)) return -1;  // MJPG: read it from the decoded picture
    PixelWriter px(format);
    return vork::ReadCounter(format.width, format.height, [&](LONG x, LONG y) { return px.IsBright(frame, x, y); });
}

namespace {

using vork::PictureSettings;

// A rendered pattern for one format and picture settings, and the frame being
// stamped from it. Uncompressed frames are packed once and stamped in place;
// MJPG frames are stamped as pictures and compressed each.
class PatternFrames {
public:
    void Prepare(const MediaType& type, const PictureSettings& settings) {
        const VIDEOINFOHEADER* vih = type.VideoInfo();
        if (!vih) return;
        VideoFormat f;
        f.width = vih->bmiHeader.biWidth;
        f.height = std::abs(vih->bmiHeader.biHeight);
        f.subtype = type.get().subtype;
        if (prepared_ && f.width == format_.width && f.height == format_.height && f.subtype == format_.subtype &&
            settings == settings_)
            return;
        format_ = f;
        settings_ = settings;
        picture_.Resize(f.width, f.height);
        vork::PaintPattern(f.width, f.height, picture_.rgb);
        settings.Apply(picture_.rgb);
        if (!IsCompressedSubtype(f.subtype)) {
            PackFrame(picture_, f.subtype, pattern_);
            frame_.resize(pattern_.size());
        }
        prepared_ = true;
    }

    // The next frame: the pattern with the counter stamped.
    const std::vector<BYTE>& Render(uint32_t counter) {
        if (IsCompressedSubtype(format_.subtype)) {
            stamped_ = picture_;
            vork::StampCounter(stamped_.rgb.data(), format_.width, format_.height, counter);
            PackFrame(stamped_, format_.subtype, frame_);
            return frame_;
        }
        std::memcpy(frame_.data(), pattern_.data(), frame_.size());
        const PixelWriter px(format_);
        vork::ForEachCounterPixel(format_.width, format_.height, counter,
                                  [&](LONG x, LONG y, BYTE level) { px.Put(frame_.data(), x, y, level, level, level); });
        return frame_;
    }

private:
    bool prepared_ = false;
    VideoFormat format_;
    PictureSettings settings_;
    RgbPicture picture_;
    RgbPicture stamped_;
    std::vector<BYTE> pattern_;
    std::vector<BYTE> frame_;
};

}  // namespace

// ---- The source filter ----------------------------------------------------------

class SourceFilter;

class SourceOutputPin : public PinBase, public IAMStreamConfig {
public:
    SourceOutputPin(SourceFilter* filter, std::shared_ptr<Camera> camera);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IAMStreamConfig) && camera_->description.hasStreamConfig) {
            *object = static_cast<IAMStreamConfig*>(this);
            AddRef();
            return S_OK;
        }
        return PinBase::QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return PinBase::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return PinBase::Release(); }

    // After IAMStreamConfig::SetFormat the pin offers only that format, as
    // DirectShow's capture pins do; before, its current one and then the others.
    std::vector<MediaType> ProposedTypes() override {
        std::vector<MediaType> types;
        {
            std::lock_guard<std::mutex> lock(camera_->mutex);
            types.push_back(camera_->currentFormat);
            if (formatSet_) return types;
        }
        for (const VideoFormat& f : camera_->description.formats) types.push_back(MediaTypeFor(f));
        return types;
    }
    void OnConnected() override {
        MediaType type = ConnectionType();
        std::lock_guard<std::mutex> lock(camera_->mutex);
        camera_->currentFormat = type;
    }

    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** mt) override {
        if (!mt) return E_POINTER;
        std::lock_guard<std::mutex> lock(camera_->mutex);
        *mt = CreateTaskMediaType(camera_->currentFormat.get());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override {
        if (!count || !size) return E_POINTER;
        *count = static_cast<int>(camera_->description.formats.size());
        *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override {
        if (!mt || !caps) return E_POINTER;
        const auto& formats = camera_->description.formats;
        if (index < 0 || index >= static_cast<int>(formats.size())) return S_FALSE;
        const VideoFormat& f = formats[static_cast<size_t>(index)];
        *mt = CreateTaskMediaType(MediaTypeFor(f).get());
        VIDEO_STREAM_CONFIG_CAPS c{};
        c.guid = FORMAT_VideoInfo;
        c.InputSize = c.MinCroppingSize = c.MaxCroppingSize = c.MinOutputSize = c.MaxOutputSize = {f.width, f.height};
        c.MinFrameInterval = static_cast<LONGLONG>(10000000.0 / f.fps);
        c.MaxFrameInterval = 10000000LL * 10;  // down to 0.1 frames per second
        std::memcpy(caps, &c, sizeof(c));
        return S_OK;
    }

    // Whether the camera can deliver a type: one of its formats' size and subtype,
    // at its rate or slower.
    bool CanDeliver(const AM_MEDIA_TYPE& mt) const {
        if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) || mt.cbFormat < sizeof(VIDEOINFOHEADER) || !mt.pbFormat)
            return false;
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        for (const VideoFormat& f : camera_->description.formats) {
            if (f.width != vih->bmiHeader.biWidth || f.height != std::abs(vih->bmiHeader.biHeight)) continue;
            if (!IsEqualGUID(f.subtype, mt.subtype)) continue;
            // RGB565 comes as bit fields; a request may also name it plain RGB.
            const DWORD compression = IsRgbSubtype(f.subtype) ? static_cast<DWORD>(BI_RGB) : f.subtype.Data1;
            const bool bitFields = f.subtype == MEDIASUBTYPE_RGB565 && vih->bmiHeader.biCompression == BI_BITFIELDS;
            if (vih->bmiHeader.biCompression != compression && !bitFields) continue;
            const auto minInterval = static_cast<REFERENCE_TIME>(10000000.0 / f.fps);
            if (vih->AvgTimePerFrame != 0 && vih->AvgTimePerFrame < minInterval) continue;
            if (vih->AvgTimePerFrame > 10000000LL * 10) continue;
            return true;
        }
        return false;
    }

private:
    SourceFilter* source_;
    std::shared_ptr<Camera> camera_;
    bool formatSet_ = false;  // guarded by camera_->mutex
};

// IAMCameraControl has the same methods as IAMVideoProcAmp, so it is a part of
// its own that shares the filter's identity and reference count.
class CameraControlPart : public IAMCameraControl {
public:
    explicit CameraControlPart(SourceFilter* filter) : filter_(filter) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                                       LONG* caps) override;
    HRESULT STDMETHODCALLTYPE Set(LONG property, LONG value, LONG flags) override;
    HRESULT STDMETHODCALLTYPE Get(LONG property, LONG* value, LONG* flags) override;

private:
    SourceFilter* filter_;
};

class SourceFilter : public SimFilter<IBaseFilter, IAMVideoProcAmp, ISpecifyPropertyPages> {
public:
    explicit SourceFilter(std::shared_ptr<Camera> camera)
        : camera_(std::move(camera)), out_(this, camera_), cameraControl_(this) {}
    ~SourceFilter() override {
        StopStreaming();
        Detach();
    }

    std::vector<PinBase*> Pins() override { return {&out_}; }
    const std::shared_ptr<Camera>& camera() const { return camera_; }
    SourceOutputPin& out() { return out_; }

    void OnRun() override { StartStreaming(); }
    void OnStop() override { StopStreaming(); }

    // The camera knows the filter while it is in a graph, to report its loss there.
    void Attach() {
        std::lock_guard<std::mutex> lock(camera_->mutex);
        camera_->activeFilter = this;
    }
    void Detach() {
        std::lock_guard<std::mutex> lock(camera_->mutex);
        if (camera_->activeFilter == this) camera_->activeFilter = nullptr;
    }

    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        if (!graph) {
            StopStreaming();
            Detach();
        } else {
            Attach();
        }
        SetGraph(GraphFromInterface(graph), name);
        return S_OK;
    }

    // ---- IAMVideoProcAmp / IAMCameraControl (the same on two tables) ----
    HRESULT STDMETHODCALLTYPE GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                                       LONG* caps) override {
        return Range(procAmpTable_, property, min, max, step, def, caps);
    }
    HRESULT STDMETHODCALLTYPE Set(LONG property, LONG value, LONG flags) override {
        return SetValue(procAmpTable_, property, value, flags);
    }
    HRESULT STDMETHODCALLTYPE Get(LONG property, LONG* value, LONG* flags) override {
        return GetValue(procAmpTable_, property, value, flags);
    }

    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override {
        if (!pages) return E_POINTER;
        if (FaultsOf(*camera_).getPagesFails) return E_FAIL;
        // The system's video proc-amp and camera-control property pages.
        static const GUID kPages[2] = {
            {0x71F96464, 0x78F3, 0x11d0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}},
            {0x71F96465, 0x78F3, 0x11d0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}}};
        pages->cElems = 2;
        pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(kPages)));
        std::memcpy(pages->pElems, kPages, sizeof(kPages));
        return S_OK;
    }

    HRESULT CameraControlRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def, LONG* caps) {
        return Range(cameraControlTable_, property, min, max, step, def, caps);
    }
    HRESULT CameraControlSet(LONG property, LONG value, LONG flags) {
        return SetValue(cameraControlTable_, property, value, flags);
    }
    HRESULT CameraControlGet(LONG property, LONG* value, LONG* flags) {
        return GetValue(cameraControlTable_, property, value, flags);
    }

    void Lost() {
        StopStreaming();
        IUnknown* self = Identity();
        self->AddRef();  // released by FreeEventParams
        Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(self), 0);
    }
    void Arrived() {
        IUnknown* self = Identity();
        self->AddRef();
        Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(self), 1);
    }
    void Abort(HRESULT hr) {
        StopStreaming();
        Notify(EC_ERRORABORT, hr, 0);
    }

protected:
    bool Offers(REFIID iid) override {
        if (IsEqualIID(iid, IID_IAMVideoProcAmp)) return camera_->description.hasProcAmp;
        return true;
    }
    void* QueryExtra(REFIID iid) override {
        if (IsEqualIID(iid, IID_IAMCameraControl) && camera_->description.hasCameraControl)
            return static_cast<IAMCameraControl*>(&cameraControl_);
        return nullptr;
    }

private:
    using Table = std::map<LONG, CameraProperty> CameraDescription::*;
    static constexpr Table procAmpTable_ = &CameraDescription::procAmp;
    static constexpr Table cameraControlTable_ = &CameraDescription::cameraControl;

    HRESULT Range(Table table, LONG property, LONG* min, LONG* max, LONG* step, LONG* def, LONG* caps) {
        if (!min || !max || !step || !def || !caps) return E_POINTER;
        std::lock_guard<std::mutex> lock(camera_->mutex);
        auto& t = camera_->description.*table;
        auto it = t.find(property);
        if (it == t.end()) return E_PROP_ID_UNSUPPORTED;
        *min = it->second.min;
        *max = it->second.max;
        *step = it->second.step;
        *def = it->second.defaultValue;
        *caps = it->second.caps;
        return S_OK;
    }
    HRESULT SetValue(Table table, LONG property, LONG value, LONG flags) {
        std::lock_guard<std::mutex> lock(camera_->mutex);
        auto& t = camera_->description.*table;
        auto it = t.find(property);
        if (it == t.end()) return E_PROP_ID_UNSUPPORTED;
        if (flags != 1 && flags != 2) return E_INVALIDARG;
        if ((it->second.caps & flags) == 0) return E_INVALIDARG;
        if (flags == 2 && (value < it->second.min || value > it->second.max)) return E_INVALIDARG;
        if (flags == 2) it->second.value = value;
        it->second.flags = flags;
        return S_OK;
    }
    HRESULT GetValue(Table table, LONG property, LONG* value, LONG* flags) {
        if (!value || !flags) return E_POINTER;
        std::lock_guard<std::mutex> lock(camera_->mutex);
        auto& t = camera_->description.*table;
        auto it = t.find(property);
        if (it == t.end()) return E_PROP_ID_UNSUPPORTED;
        *value = it->second.value;
        *flags = it->second.flags;
        return S_OK;
    }

    void StartStreaming() {
        std::lock_guard<std::mutex> lock(threadMutex_);
        if (thread_.joinable()) return;
        if (!out_.IsConnected()) return;
        stop_ = false;
        thread_ = std::thread([this] { Stream(); });
    }

    void StopStreaming() {
        std::lock_guard<std::mutex> lock(threadMutex_);
        {
            std::lock_guard<std::mutex> wake(wakeMutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    }

    // The streaming thread: frames at the format's rate (or unthrottled), each the
    // pattern with its counter, pushed to the connected pin until stopped or the
    // downstream filter asks for no more.
    void Stream() {
        PatternFrames frames;
        MediaType type = out_.ConnectionType();
        const VIDEOINFOHEADER* vih = type.VideoInfo();
        const bool unthrottled = camera_->description.unthrottled;
        const auto interval = std::chrono::nanoseconds(vih && vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame * 100
                                                                                        : 33333333);
        const CameraFaults faults = FaultsOf(*camera_);
        auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(faults.startDelayMs);
        if (faults.startStuck) next = std::chrono::steady_clock::time_point::max();
        uint32_t counter = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(wakeMutex_);
                if (!unthrottled || counter == 0) {
                    if (next == std::chrono::steady_clock::time_point::max())
                        wake_.wait(lock, [this] { return stop_; });
                    else
                        wake_.wait_until(lock, next, [this] { return stop_; });
                }
                if (stop_) return;
            }
            PictureSettings settings;
            {
                std::lock_guard<std::mutex> lock(camera_->mutex);
                ++camera_->framesDelivered;
                settings = PictureSettings::Of(camera_->description.procAmp);
            }
            // A property set through the proc-amp shows in the next frame.
            frames.Prepare(type, settings);
            const std::vector<BYTE>& frame = frames.Render(counter);
            const auto time = static_cast<REFERENCE_TIME>(counter) * (interval.count() / 100);
            ++counter;
            if (out_.Deliver(frame.data(), static_cast<LONG>(frame.size()), time) != S_OK) {
                std::unique_lock<std::mutex> lock(wakeMutex_);
                wake_.wait(lock, [this] { return stop_; });
                return;
            }
            next += interval;
            const auto now = std::chrono::steady_clock::now();
            if (next < now) next = now;  // a late frame does not start a burst
        }
    }

    std::shared_ptr<Camera> camera_;
    SourceOutputPin out_;
    CameraControlPart cameraControl_;
    std::mutex threadMutex_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

SourceOutputPin::SourceOutputPin(SourceFilter* filter, std::shared_ptr<Camera> camera)
    : PinBase(filter, PINDIR_OUTPUT, L"Capture"), source_(filter), camera_(std::move(camera)) {}

HRESULT STDMETHODCALLTYPE SourceOutputPin::SetFormat(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    {
        std::lock_guard<std::mutex> lock(camera_->mutex);
        ++camera_->setFormatCalls;
        camera_->requestedSampleSize = mt->lSampleSize;
        if (mt->cbFormat >= sizeof(VIDEOINFOHEADER) && mt->pbFormat)
            camera_->requestedVideoInfo = *reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    }
    if (!CanDeliver(*mt)) return VFW_E_INVALIDMEDIATYPE;
    MediaType type(*mt);
    // The camera computes the image size of the format itself.
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type.get().pbFormat);
    vih->bmiHeader.biHeight = std::abs(vih->bmiHeader.biHeight);
    const DWORD stride = vork::StrideOf(type.get().subtype, vih->bmiHeader.biWidth);
    vih->bmiHeader.biBitCount = BitCountOf(type.get().subtype);
    vih->bmiHeader.biSizeImage = stride * static_cast<DWORD>(vih->bmiHeader.biHeight);
    if (vih->AvgTimePerFrame == 0) vih->AvgTimePerFrame = 333333;
    type.get().lSampleSize = vih->bmiHeader.biSizeImage;
    if (PinBase* downstream = peer()) {
        if (source_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!downstream->Accepts(type.get())) return VFW_E_INVALIDMEDIATYPE;
        ChangeConnectionType(type.get());
    }
    std::lock_guard<std::mutex> lock(camera_->mutex);
    camera_->currentFormat = type;
    formatSet_ = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CameraControlPart::QueryInterface(REFIID iid, void** object) {
    return filter_->QueryInterface(iid, object);
}
ULONG STDMETHODCALLTYPE CameraControlPart::AddRef() { return filter_->AddRef(); }
ULONG STDMETHODCALLTYPE CameraControlPart::Release() { return filter_->Release(); }
HRESULT STDMETHODCALLTYPE CameraControlPart::GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                                                      LONG* caps) {
    return filter_->CameraControlRange(property, min, max, step, def, caps);
}
HRESULT STDMETHODCALLTYPE CameraControlPart::Set(LONG property, LONG value, LONG flags) {
    return filter_->CameraControlSet(property, value, flags);
}
HRESULT STDMETHODCALLTYPE CameraControlPart::Get(LONG property, LONG* value, LONG* flags) {
    return filter_->CameraControlGet(property, value, flags);
}

void SourceDeviceLost(SourceFilter* source) { source->Lost(); }
void SourceDeviceArrived(SourceFilter* source) { source->Arrived(); }
void SourceAbort(SourceFilter* source, HRESULT hr) { source->Abort(hr); }

HRESULT CreateSourceFilter(const std::shared_ptr<Camera>& camera, REFIID iid, void** object) {
    return CreateAndQuery<SourceFilter>(iid, object, camera);
}

}  // namespace vorksim

namespace vorksim {
std::shared_ptr<Camera> CameraOf(FilterBase* filter) {
    auto* source = dynamic_cast<SourceFilter*>(filter);
    return source ? source->camera() : nullptr;
}
}  // namespace vorksim
