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
