// Choosing the capture device of a grabber among the system's video input
// devices: by its device path, by a part of its friendly name, or the first one.
#include <cwchar>

#include "VORKDirectShowGrabber.h"

#include "Text.h"
#include "Variant.h"

namespace {

constexpr int kMaxSearchedDevices = 20;
constexpr size_t kNameLength = 256;
constexpr size_t kPathLength = 2048;

}  // namespace

void CVORKDirectShowGrabber::ReadDeviceSettings(const wchar_t* grabberName, const wchar_t* iniFile) {
    wchar_t namePart[kNameLength] = L"";
    wchar_t devicePath[kPathLength] = L"";
    GetPrivateProfileStringW(grabberName, L"FriendlyNamePart", L"", namePart, kNameLength, iniFile);
    GetPrivateProfileStringW(grabberName, L"DevicePath", L"", devicePath, kPathLength, iniFile);
    VORKCameraLock lock;
    m_ActCamInfo = VORKCamInfo{};
    VORKCopy(m_szFriendlyNamePart, namePart);
    VORKCopy(m_szDevicePath, devicePath);
}

bool CVORKDirectShowGrabber::SelectCaptureDevice(const wchar_t* grabberName, const wchar_t* iniFile) {
    int result = 9;
    // A setting of one character counts as not configured.
    if (std::wcslen(m_szFriendlyNamePart) >= 2 || std::wcslen(m_szDevicePath) >= 2) result = FindCapSource(&m_pCapSource);
    if (!m_pCapSource || result != 0) {
        wchar_t text[512];
        VORKFormat(text, 512, L"Could not connect DirectShow camera with FriendlyName %ls!\r\nTry to connect default camera instead",
                   m_szFriendlyNamePart);
        SendErrorEvent(text, 10);
        wchar_t name[kNameLength] = L"";
        result = GetDefaultCapSource(&m_pCapSource, name);
        if (result == 0) {
            {
                VORKCameraLock lock;
                VORKCopy(m_szDefaultFriendlyName, name);
            }
            // The next opening searches for the adopted device by its whole name.
            WritePrivateProfileStringW(grabberName, L"FriendlyNamePart", name, iniFile);
            WritePrivateProfileStringW(grabberName, L"DevicePath", L"", iniFile);
        }
    }
    if (m_pCapSource && result == 0) return true;
    wchar_t text[kPathLength];
    {
        VORKCameraLock lock;
        VORKFormat(text, kPathLength,
                   L"CVORKDirectShowGrabber::InitBoard:\r\nCould not find camera\r\nMaybe configured friendly name part "
                   L"(%ls)\r\nor device path (%ls)\r\nis unsuitable\r\nWrong USB port?",
                   m_szFriendlyNamePart, m_szDevicePath);
    }
    SendErrorEvent(text, 9);
    return false;
}

int CVORKDirectShowGrabber::FindCapSource(IBaseFilter** source) {
    if (!source) return 1;
    *source = nullptr;
    if (!m_pDevEnum) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::FindCapSource: Device enumerator not initialized!", 2, 2);
        return 2;
    }
    CComPtr<IEnumMoniker> monikers;
    // Only whether an enumerator came back counts: an empty category gives none.
    m_pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (!monikers) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::FindCapSource: Moniker enumerator could not be created!", 2, 2);
        return 2;
    }
    monikers->Reset();
    int result = 9;
    size_t pathLength = 0;
    {
        VORKCameraLock lock;
        pathLength = std::wcslen(m_szDevicePath);
    }
    for (int index = 0; index < kMaxSearchedDevices; ++index) {
        CComPtr<IMoniker> moniker;
        HRESULT hr = monikers->Next(1, &moniker, nullptr);
        if (ShowError(hr) || hr == S_FALSE) break;

        bool match = false;
        wchar_t devicePath[kPathLength];
        if (pathLength > 0 && GetDevicePath(moniker, devicePath) == 0) {
            VORKCameraLock lock;
            match = std::wcscmp(m_szDevicePath, devicePath) == 0;
        } else {
            wchar_t name[kNameLength] = L"";
            GetFriendlyName(moniker, name);
            VORKCameraLock lock;
            match = std::wcsstr(name, m_szFriendlyNamePart) != nullptr;
        }
        if (!match) continue;

        hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(source));
        if (ShowError(hr) || !*source) {
            if (*source) (*source)->Release();
            *source = nullptr;
            return 9;  // a matching device that cannot be bound ends the search
        }
        SetDeviceNumber(index);
        SetActCamInfo(moniker, index);
        result = 0;
        break;
    }
    return result;
}

int CVORKDirectShowGrabber::GetDefaultCapSource(IBaseFilter** source, wchar_t* friendlyName) {
    if (!source) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::GetDefaultCapSource: Invalid parameter!", 1, 2);
        return 1;
    }
    *source = nullptr;
    if (!m_pDevEnum) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::GetDefaultCapSource: Device enumerator not initialized!", 2, 2);
        return 2;
    }
    CComPtr<IEnumMoniker> monikers;
    m_pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (!monikers) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::GetDefaultCapSource: Moniker enumerator could not be created!", 2,
                          2);
        return 2;
    }
    monikers->Reset();
    for (int index = 0;; ++index) {
        CComPtr<IMoniker> moniker;
        HRESULT hr = monikers->Next(1, &moniker, nullptr);
        if (ShowError(hr) || hr == S_FALSE) return 4;
        hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(source));
        if (ShowError(hr)) {
            if (*source) (*source)->Release();
            *source = nullptr;
            return 4;
        }
        if (friendlyName) GetFriendlyName(moniker, friendlyName);
        if (*source) {
            SetDeviceNumber(index);
            SetActCamInfo(moniker, index);
            return 0;
        }
    }
}

namespace {

// Reads one property of a device's property bag into `value`; a bag that cannot
// be bound is reported through the grabber's error log.
HRESULT ReadDeviceProperty(CVORKDirectShowGrabber& grabber, IMoniker* moniker, const wchar_t* property,
                           VORKScopedVariant& value, bool& bagFailed) {
    CComPtr<IPropertyBag> bag;
    HRESULT hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag));
    bagFailed = grabber.ShowError(hr) || !bag;
    if (bagFailed) return hr;
    return bag->Read(property, &value, nullptr);
}

}  // namespace

int CVORKDirectShowGrabber::GetPropertyString(IMoniker* moniker, const wchar_t* property, wchar_t* value) {
    if (!moniker || !value) return 4;
    VORKScopedVariant variant;
    bool bagFailed = false;
    HRESULT hr = ReadDeviceProperty(*this, moniker, property, variant, bagFailed);
    if (bagFailed) return 4;
    if (SUCCEEDED(hr) && variant.String()) VORKCopy(value, kNameLength, variant.String());
    return 0;
}

int CVORKDirectShowGrabber::GetFriendlyName(IMoniker* moniker, wchar_t* name) {
    return GetPropertyString(moniker, L"FriendlyName", name);
}

int CVORKDirectShowGrabber::GetDevicePath(IMoniker* moniker, wchar_t* path) {
    if (!moniker || !path) return 4;
    VORKScopedVariant variant;
    bool bagFailed = false;
    HRESULT hr = ReadDeviceProperty(*this, moniker, L"DevicePath", variant, bagFailed);
    if (bagFailed) return 4;
    if (FAILED(hr) || !variant.String()) {
        path[0] = L'\0';
        return 4;
    }
    VORKCopy(path, kPathLength, variant.String());
    return 0;
}

int CVORKDirectShowGrabber::GetPropertyLong(IMoniker* moniker, const wchar_t* property, LONG& value) {
    if (!moniker) return 4;
    VORKScopedVariant variant;
    bool bagFailed = false;
    HRESULT hr = ReadDeviceProperty(*this, moniker, property, variant, bagFailed);
    if (bagFailed) return 4;
    if (SUCCEEDED(hr)) value = variant.get().lVal;
    return 0;
}

void CVORKDirectShowGrabber::SetActCamInfo(CComPtr<IMoniker>& moniker, int deviceNumber) {
    VORKCameraLock lock;
    m_ActCamInfo.nDeviceNumber = deviceNumber;
    wchar_t name[kNameLength] = L"";
    if (GetFriendlyName(moniker, name) != 0)
        VORKCopy(m_ActCamInfo.szFriendlyName, L"Unknown_friendly_name");
    else
        VORKCopy(m_ActCamInfo.szFriendlyName, name);
    wchar_t path[kPathLength] = L"";
    if (GetDevicePath(moniker, path) != 0)
        VORKFormat(m_ActCamInfo.szDevicePath, kPathLength, L"Unknown_device_path_cam_%ls_%d", m_ActCamInfo.szFriendlyName,
                   deviceNumber);
    else
        VORKCopy(m_ActCamInfo.szDevicePath, path);
}
