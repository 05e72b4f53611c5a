#include "Enumerators.h"

namespace vcam {
namespace {

// The shared part of both enumerators: a position over `count` elements.
template <class Interface, class Element, class Derived>
class Enumerator : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface))) return Hand(static_cast<Interface*>(this), out);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs_.Drop();
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, Element* elements, ULONG* fetched) override {
        if (!elements || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && next_ < Self().Count()) elements[n++] = Self().Make(next_++);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        next_ += count;
        if (next_ <= Self().Count()) return S_OK;
        next_ = Self().Count();
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface** out) override {
        if (!out) return E_POINTER;
        auto* copy = new Derived(Self());
        copy->next_ = next_;
        *out = copy;
        return S_OK;
    }

protected:
    Enumerator() = default;
    Enumerator(const Enumerator& other) : Interface(), next_(other.next_) {}

private:
    Derived& Self() { return *static_cast<Derived*>(this); }
    ModuleReference module_;
    RefCount refs_;
    size_t next_ = 0;
};

class PinEnumerator final : public Enumerator<IEnumPins, IPin*, PinEnumerator> {
public:
    explicit PinEnumerator(IPin* pin) : pin_(pin) {}
    PinEnumerator(const PinEnumerator& other) = default;
    size_t Count() const { return 1; }
    IPin* Make(size_t) {
        pin_->AddRef();
        return pin_;
    }

private:
    CComPtr<IPin> pin_;
};

class TypeEnumerator final : public Enumerator<IEnumMediaTypes, AM_MEDIA_TYPE*, TypeEnumerator> {
public:
    explicit TypeEnumerator(std::vector<MediaType> types) : types_(std::move(types)) {}
    TypeEnumerator(const TypeEnumerator& other) = default;
    size_t Count() const { return types_.size(); }
    AM_MEDIA_TYPE* Make(size_t i) { return types_[i].TaskCopy(); }

private:
    std::vector<MediaType> types_;
};

}  // namespace

HRESULT CreatePinEnumerator(IPin* pin, IEnumPins** out) {
    if (!out) return E_POINTER;
    *out = new PinEnumerator(pin);
    return S_OK;
}

HRESULT CreateTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    *out = new TypeEnumerator(std::move(types));
    return S_OK;
}

}  // namespace vcam
