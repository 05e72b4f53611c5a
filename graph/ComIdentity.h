// Identity of COM objects: two interface pointers name the same object when
// their IUnknown pointers are equal.
#pragma once

#include "vorkplatform.h"

inline bool IsSameObject(IUnknown* a, IUnknown* b) {
    if (!a && !b) return true;
    if (!a || !b) return false;
    CComPtr<IUnknown> identityA;
    CComPtr<IUnknown> identityB;
    if (FAILED(a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identityA)))) return false;
    if (FAILED(b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identityB)))) return false;
    return identityA.p == identityB.p;
}

// The IUnknown that names an object, without keeping a reference: valid while
// the caller holds the object.
inline IUnknown* IdentityOf(IUnknown* object) {
    if (!object) return nullptr;
    CComPtr<IUnknown> identity;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))) return nullptr;
    return identity.p;
}
