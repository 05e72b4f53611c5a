// A VARIANT that is initialised on construction and cleared when it goes.
#pragma once

#include "vorkplatform.h"

class VORKScopedVariant {
public:
    VORKScopedVariant() { VariantInit(&value_); }
    ~VORKScopedVariant() { VariantClear(&value_); }
    VORKScopedVariant(const VORKScopedVariant&) = delete;
    VORKScopedVariant& operator=(const VORKScopedVariant&) = delete;

    VARIANT* operator&() { return &value_; }
    const VARIANT& get() const { return value_; }
    // The string it holds, or null when it holds no string.
    const wchar_t* String() const { return value_.vt == VT_BSTR ? value_.bstrVal : nullptr; }

private:
    VARIANT value_;
};
