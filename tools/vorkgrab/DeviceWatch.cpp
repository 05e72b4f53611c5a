#include "DeviceWatch.h"

#include <algorithm>
#include <utility>

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
    if (devicePath.empty()) return true;
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

std::wstring WatchablePath(const std::wstring& activePath) {
    return DeviceAttached(activePath) ? activePath : std::wstring();
}

QuietCamera::QuietCamera(std::wstring devicePath, int timeoutMs, double rate)
    : devicePath_(std::move(devicePath)), timeoutMs_(timeoutMs),
      stallMs_(std::max<double>(timeoutMs, rate > 0 ? 2000 / rate : 0)) {}

void QuietCamera::Frame() {
    lastFrame_ = Clock::now();
    ++frames_;
}

double QuietCamera::QuietMs() const {
    return std::chrono::duration<double, std::milli>(Clock::now() - lastFrame_).count();
}

std::string QuietCamera::Lost() {
    constexpr double kLookAfterMs = 500;
    const double quiet = QuietMs();
    if (quiet > kLookAfterMs &&
        std::chrono::duration<double, std::milli>(Clock::now() - lastLook_).count() > kLookAfterMs) {
        lastLook_ = Clock::now();
        if (!DeviceAttached(devicePath_)) return "the camera was lost";
    }
    if (frames_ >= 2 && quiet > stallMs_)
        return "the camera stopped delivering for " + std::to_string(static_cast<long>(stallMs_)) + " ms";
    return "";
}

bool QuietCamera::Starved() const { return QuietMs() > timeoutMs_; }
