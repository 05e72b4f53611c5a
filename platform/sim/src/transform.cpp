// The transform filters that the simulated graph puts between two pins that do
// not connect directly, as Windows' intelligent connect does: a colour space
// converter (YUY2, NV12 and the RGB formats into RGB32, RGB24, RGB565 and RGB555) and
// an MJPEG decompressor (MJPG into YUY2, RGB24 and RGB32).
#include "transform.h"

#include "pixels.h"

namespace vorksim {
namespace {

struct KindInfo {
    const wchar_t* name;
    std::vector<GUID> inputs;
    std::vector<GUID> outputs;
};

const KindInfo& Info(TransformKind kind) {
    static const KindInfo kConverter{L"Color Space Converter",
                                     {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_NV12, MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB24,
                                      MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555},
                                     {MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555}};
    static const KindInfo kDecompressor{L"MJPEG Decompressor",
                                        {MEDIASUBTYPE_MJPG},
                                        {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32}};
    return kind == TransformKind::ColorSpaceConverter ? kConverter : kDecompressor;
}

bool Contains(const std::vector<GUID>& list, const GUID& g) {
    for (const GUID& item : list)
        if (IsEqualGUID(item, g)) return true;
    return false;
}

class TransformFilter;

class TransformInputPin : public PinBase {
public:
    TransformInputPin(TransformFilter* filter);
    bool Accepts(const AM_MEDIA_TYPE& type) override;
    HRESULT Receive(const BYTE* data, LONG length, REFERENCE_TIME time) override;
    void OnConnected() override;

private:
    TransformFilter* filter_;
};

class TransformOutputPin : public PinBase {
public:
    TransformOutputPin(TransformFilter* filter);
    std::vector<MediaType> ProposedTypes() override;
    void OnConnected() override;

private:
    TransformFilter* filter_;
};

class TransformFilter : public SimFilter<IBaseFilter>, public TransformMarker {
public:
    explicit TransformFilter(TransformKind kind) : kind_(kind), in_(this), out_(this) {}

    std::vector<PinBase*> Pins() override { return {&in_, &out_}; }
    TransformKind kind() const override { return kind_; }
    PinBase* Input() override { return &in_; }
    PinBase* Output() override { return &out_; }
    const wchar_t* KindName() const override { return Info(kind_).name; }

    bool AcceptsInput(const AM_MEDIA_TYPE& type) const {
        if (!IsEqualGUID(type.majortype, MEDIATYPE_Video) || !IsEqualGUID(type.formattype, FORMAT_VideoInfo) ||
            type.cbFormat < sizeof(VIDEOINFOHEADER) || !type.pbFormat)
            return false;
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        return vih->bmiHeader.biWidth > 0 && vih->bmiHeader.biHeight != 0 && Contains(Info(kind_).inputs, type.subtype);
    }

    // The output types for the input's size, best first; never the input's own
    // subtype, which would need no filter.
    std::vector<MediaType> OutputTypes() const {
        std::vector<MediaType> types;
        const MediaType input = in_.ConnectionType();
        const VIDEOINFOHEADER* vih = input.VideoInfo();
        if (!vih) return types;
        for (const GUID& subtype : Info(kind_).outputs) {
            if (IsEqualGUID(subtype, input.get().subtype)) continue;
            VideoFormat f;
            f.width = vih->bmiHeader.biWidth;
            f.height = std::abs(vih->bmiHeader.biHeight);
            f.subtype = subtype;
            f.fps = vih->AvgTimePerFrame > 0 ? 10000000.0 / static_cast<double>(vih->AvgTimePerFrame) : 30.0;
            types.push_back(MediaTypeFor(f));
        }
        return types;
    }

    // The camera changed its format while connected: the output follows with
    // the same subtype at the new size.
    void InputChanged() {
        const MediaType output = out_.ConnectionType();
        if (!out_.IsConnected()) return;
        for (const MediaType& type : OutputTypes()) {
            if (!IsEqualGUID(type.get().subtype, output.get().subtype)) continue;
            if (PinBase* downstream = out_.peer(); downstream && downstream->Accepts(type.get()))
                out_.ChangeConnectionType(type.get());
            return;
        }
    }

    void Refresh() {
        std::lock_guard<std::mutex> lock(formatMutex_);
        input_ = in_.ConnectionType();
        output_ = out_.ConnectionType();
    }

    // On the streaming thread: one frame in, one converted frame out.
    HRESULT Convert(const BYTE* data, LONG length, REFERENCE_TIME time) {
        GUID from, to;
        LONG width = 0, height = 0, outWidth = 0, outHeight = 0;
        bool topDown = false;
        {
            std::lock_guard<std::mutex> lock(formatMutex_);
            const VIDEOINFOHEADER* in = input_.VideoInfo();
            const VIDEOINFOHEADER* out = output_.VideoInfo();
            if (!in || !out) return VFW_E_NOT_CONNECTED;
            from = input_.get().subtype;
            to = output_.get().subtype;
            width = in->bmiHeader.biWidth;
            height = std::abs(in->bmiHeader.biHeight);
            topDown = in->bmiHeader.biHeight < 0 && IsRgbSubtype(from);
            outWidth = out->bmiHeader.biWidth;
            outHeight = std::abs(out->bmiHeader.biHeight);
        }
        if (width != outWidth || height != outHeight) return S_OK;  // mid-change: the frame is dropped
        if (!UnpackFrame(data, static_cast<size_t>(length), from, width, height, picture_, topDown)) return S_OK;
        if (!PackFrame(picture_, to, frame_)) return S_OK;
        return out_.Deliver(frame_.data(), static_cast<LONG>(frame_.size()), time);
    }

private:
    TransformKind kind_;
    TransformInputPin in_;
    TransformOutputPin out_;
    std::mutex formatMutex_;
    MediaType input_;
    MediaType output_;
    RgbPicture picture_;  // used by the streaming thread only
    std::vector<BYTE> frame_;
};

TransformInputPin::TransformInputPin(TransformFilter* filter) : PinBase(filter, PINDIR_INPUT, L"Input"), filter_(filter) {}
bool TransformInputPin::Accepts(const AM_MEDIA_TYPE& type) { return filter_->AcceptsInput(type); }
HRESULT TransformInputPin::Receive(const BYTE* data, LONG length, REFERENCE_TIME time) {
    return filter_->Convert(data, length, time);
}
void TransformInputPin::OnConnected() {
    filter_->InputChanged();
    filter_->Refresh();
}

TransformOutputPin::TransformOutputPin(TransformFilter* filter)
    : PinBase(filter, PINDIR_OUTPUT, L"Output"), filter_(filter) {}
std::vector<MediaType> TransformOutputPin::ProposedTypes() { return filter_->OutputTypes(); }
void TransformOutputPin::OnConnected() { filter_->Refresh(); }

}  // namespace

std::vector<TransformKind> TransformKinds() { return {TransformKind::ColorSpaceConverter, TransformKind::MjpegDecompressor}; }

IBaseFilter* CreateTransform(TransformKind kind) { return new TransformFilter(kind); }  // born with one reference

}  // namespace vorksim
