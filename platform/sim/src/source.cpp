// The capture source filter of a virtual camera: one output pin with its stream
// configuration, the optional proc-amp and camera-control interfaces, property
// pages, and a streaming thread that renders the test pattern.
#include <algorithm>
#include <chrono>
#include <cstdlib>
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
          bottomUp(IsRgbSubtype(f.subtype) && !f.topDown) {}

    BYTE* Row(BYTE* frame, LONG y) const { return frame + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride; }

    void Put(BYTE* frame, LONG x, LONG y, BYTE r, BYTE g, BYTE b) const {
        BYTE* row = Row(frame, y);
        if (PutRgbPixel(row, x, subtype, r, g, b)) return;
        if (subtype == MEDIASUBTYPE_NV12) {
            row[x] = static_cast<BYTE>((r * 77 + g * 150 + b * 29) >> 8);
            return;
        }
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
        if (subtype == MEDIASUBTYPE_RGB8 || subtype == MEDIASUBTYPE_NV12) return row[x] > 128;
        return row[(x / 2) * 4 + (x % 2) * 2] > 128;
    }
};

}  // namespace

bool FrameToPicture(const BYTE* frame, size_t size, const VideoFormat& format, std::vector<BYTE>& rgb) {
    RgbPicture picture;
    if (!UnpackFrame(frame, size, format.subtype, format.width, format.height, picture, format.topDown)) return false;
    rgb = std::move(picture.rgb);
    return true;
}

bool MakePatternFrame(const VideoFormat& format, std::vector<BYTE>& frame) {
    RgbPicture picture;
    picture.Resize(format.width, format.height);
    vork::PaintPattern(format.width, format.height, picture.rgb);
    return PackFrame(picture, format.subtype, frame, format.topDown);
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
        const BITMAPINFOHEADER* bmi = type.Bitmap();
        if (!bmi) return;
        VideoFormat f;
        f.width = bmi->biWidth;
        f.height = std::abs(bmi->biHeight);
        f.subtype = type.get().subtype;
        f.topDown = bmi->biHeight < 0 && IsRgbSubtype(f.subtype);
        if (prepared_ && f.width == format_.width && f.height == format_.height && f.subtype == format_.subtype &&
            f.topDown == format_.topDown && settings == settings_)
            return;
        format_ = f;
        settings_ = settings;
        picture_.Resize(f.width, f.height);
        vork::PaintPattern(f.width, f.height, picture_.rgb);
        settings.Apply(picture_.rgb);
        if (!IsCompressedSubtype(f.subtype)) {
            PackFrame(picture_, f.subtype, pattern_, f.topDown);
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
        for (const VideoFormat& f : camera_->description.formats) {
            if (camera_->description.videoInfo2) types.push_back(MediaType2For(f));
            types.push_back(MediaTypeFor(f));
        }
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
        *count = static_cast<int>(camera_->description.formats.size() * TypesPerFormat());
        *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override {
        if (!mt || !caps) return E_POINTER;
        const VideoFormat* f = FormatOfCaps(index);
        if (!f) return S_FALSE;
        const bool info2 = camera_->description.videoInfo2 && index % 2 == 0;
        *mt = CreateTaskMediaType((info2 ? MediaType2For(*f) : MediaTypeFor(*f)).get());
        VIDEO_STREAM_CONFIG_CAPS c{};
        c.guid = info2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
        c.InputSize = c.MinCroppingSize = c.MaxCroppingSize = c.MinOutputSize = c.MaxOutputSize = {f->width, f->height};
        c.MinFrameInterval = IntervalOf(f->fps);
        c.MaxFrameInterval = f->rates.empty() ? 10000000LL * 10 : IntervalOf(f->fps);  // else 0.1 frames per second
        for (double rate : f->rates) {
            c.MinFrameInterval = std::min<LONGLONG>(c.MinFrameInterval, IntervalOf(rate));
            c.MaxFrameInterval = std::max<LONGLONG>(c.MaxFrameInterval, IntervalOf(rate));
        }
        std::memcpy(caps, &c, sizeof(c));
        return S_OK;
    }

    // The format behind a capability's index: each twice with VideoInfo2.
    const VideoFormat* FormatOfCaps(int index) const {
        const auto& formats = camera_->description.formats;
        if (index < 0 || index >= static_cast<int>(formats.size() * TypesPerFormat())) return nullptr;
        return &formats[static_cast<size_t>(index) / TypesPerFormat()];
    }
    size_t TypesPerFormat() const { return camera_->description.videoInfo2 ? 2 : 1; }
    static LONGLONG IntervalOf(double fps) { return static_cast<LONGLONG>(10000000.0 / fps); }

    // A camera with a list of rates keeps only those; one without takes any
    // rate down to its own.
    static bool KeepsRate(const VideoFormat& f, REFERENCE_TIME interval) {
        if (interval == 0) return true;
        if (f.rates.empty()) return interval >= IntervalOf(f.fps) && interval <= 10000000LL * 10;
        for (double rate : f.rates)
            if (std::llabs(interval - IntervalOf(rate)) <= IntervalOf(rate) / 1000) return true;
        return false;
    }

    // Whether the camera can deliver a type: one of its formats' size and subtype,
    // at its rate or slower.
    const VideoFormat* Delivers(const AM_MEDIA_TYPE& mt) const {
        const BITMAPINFOHEADER* bmi = vork::BitmapHeaderOf(mt);
        if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) || !bmi) return nullptr;
        if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo2) && !camera_->description.videoInfo2) return nullptr;
        for (const VideoFormat& f : camera_->description.formats) {
            if (f.width != bmi->biWidth || f.height != std::abs(bmi->biHeight)) continue;
            if (f.topDown && bmi->biHeight > 0) continue;  // it has no bottom-up rows of this size
            if (!IsEqualGUID(f.subtype, mt.subtype)) continue;
            // RGB565 comes as bit fields; a request may also name it plain RGB.
            const DWORD compression = IsRgbSubtype(f.subtype) ? static_cast<DWORD>(BI_RGB) : f.subtype.Data1;
            const bool bitFields = f.subtype == MEDIASUBTYPE_RGB565 && bmi->biCompression == BI_BITFIELDS;
            if (bmi->biCompression != compression && !bitFields) continue;
            if (!KeepsRate(f, vork::FrameIntervalOf(mt))) continue;
            return &f;
        }
        return nullptr;
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

class SourceFilter : public SimFilter<IBaseFilter, IAMVideoProcAmp, ISpecifyPropertyPages, IAMVideoControl> {
public:
    explicit SourceFilter(std::shared_ptr<Camera> camera)
        : camera_(std::move(camera)), out_(this, camera_), cameraControl_(this), instance_(InstanceOf(*camera_)) {}
    ~SourceFilter() override {
        StopStreaming();
        Detach();
    }

    std::vector<PinBase*> Pins() override { return {&out_}; }
    const std::shared_ptr<Camera>& camera() const { return camera_; }
    SourceOutputPin& out() { return out_; }

    void OnRun() override { StartStreaming(); }
    void OnStop() override { StopStreaming(); }

    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override {
        {
            std::lock_guard<std::mutex> lock(camera_->mutex);
            if (DeadLocked()) return kDeviceGone;
            if (camera_->description.busy) return kCameraBusy;
        }
        ScheduleUnplug(*camera_);
        return SimFilter::Run(start);
    }

    // The camera knows the filters in graphs, to report its loss and return there.
    void Attach() {
        std::lock_guard<std::mutex> lock(camera_->mutex);
        auto& filters = camera_->filtersInGraphs;
        if (std::find(filters.begin(), filters.end(), this) == filters.end()) filters.push_back(this);
    }
    void Detach() {
        std::lock_guard<std::mutex> lock(camera_->mutex);
        auto& filters = camera_->filtersInGraphs;
        filters.erase(std::remove(filters.begin(), filters.end(), this), filters.end());
    }
    // A filter bound before the camera was unplugged stays dead. Needs camera_->mutex.
    bool DeadLocked() const { return camera_->removed || instance_ != camera_->instance; }

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

    // EC_DEVICE_LOST's first parameter is the filter's IUnknown without a
    // reference: it is valid only while the graph holds the filter, and
    // FreeEventParams releases nothing (as Wine's). Compare it, do not call it.
    // The streaming thread sees the loss at its next frame and delivers no more.
    void Lost() { Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(Identity()), 0); }
    void Arrived() { Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(Identity()), 1); }
    unsigned Instance() const { return instance_; }

    // ---- IAMVideoControl: the rates of a format, by its capability index ----
    HRESULT STDMETHODCALLTYPE GetCaps(IPin*, LONG* caps) override {
        if (!caps) return E_POINTER;
        *caps = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMode(IPin*, LONG mode) override { return mode == 0 ? S_OK : E_INVALIDARG; }
    HRESULT STDMETHODCALLTYPE GetMode(IPin*, LONG* mode) override {
        if (!mode) return E_POINTER;
        *mode = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentActualFrameRate(IPin*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMaxAvailableFrameRate(IPin* pin, LONG index, SIZE size, LONGLONG* rate) override {
        if (!rate) return E_POINTER;
        const VideoFormat* f = out_.FormatOfCaps(index);
        if (!f || f->width != size.cx || f->height != size.cy) return E_INVALIDARG;
        *rate = static_cast<LONGLONG>(10000000.0 / f->fps);
        for (double r : f->rates) *rate = std::min<LONGLONG>(*rate, static_cast<LONGLONG>(10000000.0 / r));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFrameRateList(IPin*, LONG index, SIZE size, LONG* count, LONGLONG** rates) override {
        if (!count) return E_POINTER;
        const VideoFormat* f = out_.FormatOfCaps(index);
        if (!f || f->width != size.cx || f->height != size.cy) return E_INVALIDARG;
        std::vector<double> list = f->rates.empty() ? std::vector<double>{f->fps} : f->rates;
        *count = static_cast<LONG>(list.size());
        if (!rates) return S_OK;  // the count alone
        *rates = static_cast<LONGLONG*>(CoTaskMemAlloc(list.size() * sizeof(LONGLONG)));
        if (!*rates) return E_OUTOFMEMORY;
        for (size_t i = 0; i < list.size(); ++i) (*rates)[i] = static_cast<LONGLONG>(10000000.0 / list[i]);
        return S_OK;
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

    static unsigned InstanceOf(Camera& camera) {
        std::lock_guard<std::mutex> lock(camera.mutex);
        return camera.instance;
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
        const REFERENCE_TIME typeInterval = vork::FrameIntervalOf(type.get());
        const bool unthrottled = camera_->description.unthrottled;
        const auto interval = std::chrono::nanoseconds(typeInterval > 0 ? typeInterval * 100 : 33333333);
        const CameraFaults faults = FaultsOf(*camera_);
        const LONG darkFrames = camera_->description.darkFrames;
        auto next = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(faults.startDelayMs + static_cast<int>(camera_->description.startDelayMs));
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
            bool dead = false;
            bool lost = false;
            {
                std::lock_guard<std::mutex> lock(camera_->mutex);
                dead = DeadLocked();
                const LONG dropEvery = camera_->description.dropEvery;
                lost = !dead && dropEvery > 0 && ++camera_->framesMade % dropEvery == 0;
                if (!dead && !lost) ++camera_->framesDelivered;
                settings = PictureSettings::Of(camera_->description.procAmp);
            }
            if (lost) {  // made, and lost on the way: the next comes a frame later
                ++counter;
                next = std::max(next + interval, std::chrono::steady_clock::now());
                continue;
            }
            if (dead) {
                std::unique_lock<std::mutex> lock(wakeMutex_);
                wake_.wait(lock, [this] { return stop_; });
                return;
            }
            // Auto-exposure settling: the first frames rise from black.
            if (static_cast<LONG>(counter) < darkFrames) settings.gain *= (counter + 1.0) / (darkFrames + 1.0);
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
    const unsigned instance_;
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
        camera_->requestedVideoInfo = PlainVideoInfo(*mt);
    }
    const VideoFormat* f = Delivers(*mt);
    if (!f) return VFW_E_INVALIDMEDIATYPE;
    MediaType type(*mt);
    // The camera computes the image size of the format itself. Both blocks
    // keep the interval at the same place.
    auto* bmi = const_cast<BITMAPINFOHEADER*>(type.Bitmap());
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type.get().pbFormat);
    bmi->biHeight = f->topDown ? -f->height : f->height;
    bmi->biBitCount = BitCountOf(type.get().subtype);
    bmi->biSizeImage = vork::ImageSizeOf(type.get().subtype, bmi->biWidth, bmi->biHeight);
    if (vih->AvgTimePerFrame == 0 && !f->rateUnreported) vih->AvgTimePerFrame = IntervalOf(f->fps);
    type.get().lSampleSize = bmi->biSizeImage;
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
bool SourceIsDead(SourceFilter* source) { return source->DeadLocked(); }
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
