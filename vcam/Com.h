// What every COM object of the filter shares: the module's count of live
// objects and server locks, which DllCanUnloadNow reads, and handing out an
// interface with its reference.
#pragma once

#include <windows.h>

#include <atomic>

namespace vcam {

void LockModule();
void UnlockModule();
bool ModuleInUse();
HMODULE ModuleHandle();

// A member of every object: the module stays loaded while the object lives.
struct ModuleReference {
    ModuleReference() { LockModule(); }
    ~ModuleReference() { UnlockModule(); }
    ModuleReference(const ModuleReference&) = delete;
    ModuleReference& operator=(const ModuleReference&) = delete;
};

template <class Interface>
HRESULT Hand(Interface* object, void** out) {
    *out = object;
    object->AddRef();
    return S_OK;
}

// A reference count that deletes its owner at zero.
class RefCount {
public:
    ULONG Add() { return ++count_; }
    ULONG Drop() { return --count_; }

private:
    std::atomic<ULONG> count_{1};
};

}  // namespace vcam
