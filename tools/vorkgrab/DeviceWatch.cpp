#include "DeviceWatch.h"

#include "vorkplatform.h"

namespace {

std::wstring DevicePathOf(IMoniker* moniker) {
    CComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag))) || !bag)
        return L"";
    VARIANT value;
    VariantInit(&value);
    std::wstring path;
    if (SUCCEEDED(bag->Read(L"DevicePath", &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        path = value.bstrVal;
    VariantClear(&value);
    return path;
}

}  // namespace

bool DeviceAttached(const std::wstring& devicePath) {
    CComPtr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&devices))) ||
        !devices)
        return false;
    CComPtr<IEnumMoniker> monikers;
    // S_FALSE: the category is empty.
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK || !monikers) return false;
    for (;;) {
        CComPtr<IMoniker> moniker;
        if (monikers->Next(1, &moniker, nullptr) != S_OK || !moniker) return false;
        if (DevicePathOf(moniker) == devicePath) return true;
    }
}
