// CComPtr: a counted COM interface pointer, as ATL's, for toolchains without ATL.
// It holds one reference, releases it on destruction and reassignment, and takes a
// new one when copied.
#pragma once

#include <memory>
#include <utility>

template <class T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    CComPtr(T* lp) noexcept : p(lp) {  // NOLINT: implicit as in ATL
        if (p) p->AddRef();
    }
    CComPtr(const CComPtr& other) noexcept : CComPtr(other.p) {}
    CComPtr(CComPtr&& other) noexcept : p(other.p) { other.p = nullptr; }
    ~CComPtr() {
        if (p) p->Release();
    }

    T* operator=(T* lp) noexcept {
        if (lp != p) {
            if (lp) lp->AddRef();
            T* old = p;
            p = lp;
            if (old) old->Release();
        }
        return p;
    }
    T* operator=(const CComPtr& other) noexcept { return *this = other.p; }
    T* operator=(CComPtr&& other) noexcept {
        if (this != std::addressof(other)) {  // & is the out-parameter operator below
            T* old = p;
            p = other.p;
            other.p = nullptr;
            if (old) old->Release();
        }
        return p;
    }

    operator T*() const noexcept { return p; }
    T& operator*() const noexcept { return *p; }
    T* operator->() const noexcept { return p; }
    bool operator!() const noexcept { return p == nullptr; }

    // The address is for an out-parameter; whatever was held is released first so
    // that the callee's reference can never overwrite and leak an older one.
    T** operator&() noexcept {
        Release();
        return &p;
    }

    void Release() noexcept {
        T* old = p;
        p = nullptr;
        if (old) old->Release();
    }
    void Attach(T* lp) noexcept {
        if (p) p->Release();
        p = lp;
    }
    T* Detach() noexcept { return std::exchange(p, nullptr); }
    HRESULT CopyTo(T** out) const noexcept {
        if (!out) return E_POINTER;
        *out = p;
        if (p) p->AddRef();
        return S_OK;
    }

    T* p = nullptr;
};
