// The sample grabber and the null renderer.
#include <cstring>

#include "dshow_internal.h"

namespace vorksim {
namespace {

class SampleGrabber;

class GrabberInputPin : public PinBase {
public:
    GrabberInputPin(FilterBase* owner, SampleGrabber* grabber) : PinBase(owner, PINDIR_INPUT, L"Input"), grabber_(grabber) {}
    bool Accepts(const AM_MEDIA_TYPE& type) override;
    HRESULT Receive(const BYTE* data, LONG length, REFERENCE_TIME time) override;

private:
    SampleGrabber* grabber_;
};

class GrabberOutputPin : public PinBase {
public:
    GrabberOutputPin(FilterBase* owner, PinBase* input) : PinBase(owner, PINDIR_OUTPUT, L"Output"), input_(input) {}
    // The grabber passes on the type its input was connected with.
    std::vector<MediaType> ProposedTypes() override {
        if (!input_->IsConnected()) return {};
        return {input_->ConnectionType()};
    }

private:
    PinBase* input_;
};

// A minimal media sample for SampleCB: the buffer is valid during the call only.
class CallbackSample : public ComObject<IMediaSample> {
public:
    CallbackSample(BYTE* data, LONG length, REFERENCE_TIME time) : data_(data), length_(length), time_(time) {}
    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
        if (!buffer) return E_POINTER;
        *buffer = data_;
        return S_OK;
    }
    LONG STDMETHODCALLTYPE GetSize() override { return length_; }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
        if (start) *start = time_;
        if (end) *end = time_;
        return S_OK;
    }
    LONG STDMETHODCALLTYPE GetActualDataLength() override { return length_; }

private:
    BYTE* data_;
    LONG length_;
    REFERENCE_TIME time_;
};

class SampleGrabber : public SimFilter<IBaseFilter, ISampleGrabber> {
public:
    SampleGrabber() : in_(this, this), out_(this, &in_) {}

    std::vector<PinBase*> Pins() override { return {&in_, &out_}; }

    void OnRun() override {
        std::lock_guard<std::mutex> lock(mutex_);
        shotTaken_ = false;
    }

    bool Accepts(const AM_MEDIA_TYPE& type) {
        std::lock_guard<std::mutex> lock(mutex_);
        const AM_MEDIA_TYPE& want = wanted_.get();
        if (!IsEqualGUID(want.majortype, GUID_NULL) && !IsEqualGUID(want.majortype, type.majortype)) return false;
        if (!IsEqualGUID(want.subtype, GUID_NULL) && !IsEqualGUID(want.subtype, type.subtype)) return false;
        if (!IsEqualGUID(want.formattype, GUID_NULL) && !IsEqualGUID(want.formattype, type.formattype)) return false;
        // As Windows' sample grabber (Wine's takes both): no VIDEOINFOHEADER2,
        // and no top-down RGB.
        if (IsEqualGUID(type.formattype, FORMAT_VideoInfo2)) return false;
        const BITMAPINFOHEADER* bmi = vork::BitmapHeaderOf(type);
        if (bmi && IsRgbSubtype(type.subtype) && bmi->biHeight < 0) return false;
        return true;
    }

    HRESULT Receive(const BYTE* data, LONG length, REFERENCE_TIME time) {
        ISampleGrabberCB* callback = nullptr;
        LONG method = 0;
        bool completes = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (oneShot_ && shotTaken_) return S_FALSE;
            if (buffering_) {
                buffer_.assign(data, data + length);  // reuses the capacity once it has grown
                hasSample_ = true;
            }
            if (oneShot_) completes = shotTaken_ = true;
            callback = callback_;
            method = method_;
        }
        if (callback) {
            // The callback gets a copy that it may not keep, as from DirectShow.
            scratch_.assign(data, data + length);
            double seconds = static_cast<double>(time) / 10000000.0;
            if (method == 1) {
                callback->BufferCB(seconds, scratch_.data(), length);
            } else {
                auto* sample = new CallbackSample(scratch_.data(), length, time);
                callback->SampleCB(seconds, sample);
                sample->Release();
            }
        }
        out_.Deliver(data, length, time);
        if (completes) {
            Notify(EC_COMPLETE, S_OK, 0);
            return S_FALSE;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetOneShot(WINBOOL oneShot) override {
        if (HRESULT hr = CallFault("ISampleGrabber::SetOneShot"); FAILED(hr)) return hr;
        std::lock_guard<std::mutex> lock(mutex_);
        oneShot_ = oneShot != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE* type) override {
        if (!type) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        wanted_ = MediaType(*type);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
        if (!type) return E_POINTER;
        if (!in_.IsConnected()) return VFW_E_NOT_CONNECTED;
        CopyMediaType(*type, in_.ConnectionType().get());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetBufferSamples(WINBOOL bufferThem) override {
        std::lock_guard<std::mutex> lock(mutex_);
        buffering_ = bufferThem != FALSE;
        if (!buffering_) {
            hasSample_ = false;
            buffer_.clear();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG* size, LONG* buffer) override {
        if (!size) return E_POINTER;
        if (HRESULT hr = CallFault("ISampleGrabber::GetCurrentBuffer"); FAILED(hr)) return hr;
        if (!in_.IsConnected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!buffering_) return E_INVALIDARG;
        if (!hasSample_) return VFW_E_WRONG_STATE;
        const auto length = static_cast<LONG>(buffer_.size());
        HRESULT hr = S_OK;
        if (buffer) {
            if (*size >= length) std::memcpy(buffer, buffer_.data(), buffer_.size());
            else hr = E_OUTOFMEMORY;
        }
        *size = length;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample** sample) override {
        if (sample) *sample = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* callback, LONG method) override {
        if (HRESULT hr = CallFault("ISampleGrabber::SetCallback"); FAILED(hr)) return hr;
        if (method != 0 && method != 1) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(mutex_);
        if (callback) callback->AddRef();
        if (callback_) callback_->Release();
        callback_ = callback;
        method_ = method;
        return S_OK;
    }

    ~SampleGrabber() override {
        if (callback_) callback_->Release();
    }

private:
    GrabberInputPin in_;
    GrabberOutputPin out_;
    std::mutex mutex_;
    MediaType wanted_;
    bool oneShot_ = false;
    bool shotTaken_ = false;
    bool buffering_ = false;
    bool hasSample_ = false;
    std::vector<BYTE> buffer_;
    std::vector<BYTE> scratch_;  // used by the streaming thread only
    ISampleGrabberCB* callback_ = nullptr;
    LONG method_ = 0;
};

bool GrabberInputPin::Accepts(const AM_MEDIA_TYPE& type) { return grabber_->Accepts(type); }

HRESULT GrabberInputPin::Receive(const BYTE* data, LONG length, REFERENCE_TIME time) {
    return grabber_->Receive(data, length, time);
}

class NullRenderer : public SimFilter<IBaseFilter> {
public:
    NullRenderer() : in_(this, PINDIR_INPUT, L"In") {}
    std::vector<PinBase*> Pins() override { return {&in_}; }

private:
    PinBase in_;
};

}  // namespace

HRESULT CreateSampleGrabber(REFIID iid, void** object) { return CreateAndQuery<SampleGrabber>(iid, object); }
HRESULT CreateNullRenderer(REFIID iid, void** object) { return CreateAndQuery<NullRenderer>(iid, object); }

}  // namespace vorksim
