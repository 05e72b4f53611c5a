// Building blocks of the simulated COM runtime: the class registry behind
// CoCreateInstance, a count of live objects for leak checks, and a reference-
// counted implementation base for the simulated classes.
#pragma once

#include <atomic>

#include <objbase.h>

namespace vorksim {

// Live simulated COM objects; a test compares it before and after its work.
long LiveObjectCount();
void CountLiveObject(int delta);

using ClassFactory = HRESULT (*)(REFIID iid, void** object);
void RegisterComClass(REFCLSID clsid, ClassFactory factory);
void UnregisterComClass(REFCLSID clsid);

// Interfaces an implementation answers to, with the interfaces they derive from.
template <class I>
struct InterfaceTraits;

// VORKSIM_INTERFACE(I, &IID_I, &IID_Base...): the identifiers I answers to.
#define VORKSIM_INTERFACE(I, ...)                          \
    template <>                                            \
    struct InterfaceTraits<I> {                            \
        static bool Matches(REFIID iid) {                  \
            for (const IID* id : {__VA_ARGS__})            \
                if (IsEqualIID(iid, *id)) return true;     \
            return false;                                  \
        }                                                  \
    }

VORKSIM_INTERFACE(IPropertyBag, &IID_IPropertyBag);
VORKSIM_INTERFACE(IMoniker, &IID_IMoniker, &IID_IPersist);
VORKSIM_INTERFACE(IEnumMoniker, &IID_IEnumMoniker);
VORKSIM_INTERFACE(ISpecifyPropertyPages, &IID_ISpecifyPropertyPages);

// Reference-counted object implementing Interfaces...; QueryInterface answers
// IUnknown (always through the first interface, so identity holds) and each listed
// interface with its bases.
template <class... Interfaces>
class ComObject : public Interfaces... {
public:
    ComObject() { CountLiveObject(1); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() { CountLiveObject(-1); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = Identity();
        } else {
            Lookup<Interfaces...>(iid, object);
            if (*object && !Offers(iid)) *object = nullptr;
        }
        if (!*object) *object = QueryExtra(iid);
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    IUnknown* Identity() { return static_cast<IUnknown*>(static_cast<First*>(this)); }
    ULONG RefCount() const { return refs_; }

protected:
    // Interfaces an object offers beyond its bases (a pin's, say).
    virtual void* QueryExtra(REFIID) { return nullptr; }
    // Whether an interface the object implements is offered (an optional one may not be).
    virtual bool Offers(REFIID) { return true; }

private:
    template <class T, class...>
    struct FirstOf {
        using type = T;
    };
    using First = typename FirstOf<Interfaces...>::type;

    template <class I, class... Rest>
    void Lookup(REFIID iid, void** object) {
        if (InterfaceTraits<I>::Matches(iid)) {
            *object = static_cast<I*>(this);
            return;
        }
        if constexpr (sizeof...(Rest) > 0) Lookup<Rest...>(iid, object);
    }

    std::atomic<ULONG> refs_{1};
};

// Creates an object with one reference and hands out the requested interface.
template <class T, class... Args>
HRESULT CreateAndQuery(REFIID iid, void** object, Args&&... args) {
    T* created = new T(static_cast<Args&&>(args)...);
    HRESULT hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
}

}  // namespace vorksim
