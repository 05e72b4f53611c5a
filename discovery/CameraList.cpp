// The cameras attached to the system, as the framework lists them.
#include <cwchar>
#include <string>
#include <vector>

#include "VORKDirectShowGrabber.h"

#include "Text.h"

namespace {

constexpr int kMaxListedCameras = 20;
constexpr size_t kNameLength = 256;
constexpr size_t kPathLength = 2048;

// "<name>_<position>", the name cut so that the suffix always fits.
void AppendPosition(wchar_t (&name)[kNameLength], size_t position) {
    const std::wstring suffix = L"_" + std::to_wstring(position);
    std::wstring base = name;
    if (base.size() + suffix.size() > kNameLength - 1) base.resize(kNameLength - 1 - suffix.size());
    VORKCopy(name, (base + suffix).c_str());
}

}  // namespace

VORKCamInfo* CVORKDirectShowGrabber::GetCamInfos(int& count) {
    if (!m_pDevEnum) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::GetCamInfos: Device enumerator not initialized!", 2, 2);
        return nullptr;
    }
    CComPtr<IEnumMoniker> monikers;
    m_pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (!monikers) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::GetCamInfos: Moniker enumerator could not be created!", 2, 2);
        return nullptr;
    }
    monikers->Reset();
    std::vector<VORKCamInfo> list;
    for (int position = 0; position < kMaxListedCameras; ++position) {
        CComPtr<IMoniker> moniker;
        const HRESULT hr = monikers->Next(1, &moniker, nullptr);
        if (ShowError(hr) || hr == S_FALSE) break;
        VORKCamInfo info{};
        info.nDeviceNumber = position;
        wchar_t name[kNameLength] = L"";
        if (GetFriendlyName(moniker, name) != 0) VORKCopy(info.szFriendlyName, L"Unknown_friendly_name");
        else VORKCopy(info.szFriendlyName, name);
        wchar_t path[kPathLength] = L"";
        if (GetDevicePath(moniker, path) != 0)
            VORKFormat(info.szDevicePath, kPathLength, L"Unknown_device_path_cam_%ls_%d", info.szFriendlyName, position);
        else VORKCopy(info.szDevicePath, path);
        list.push_back(info);
    }
    // Equal names get their position as a suffix; later comparisons see the
    // names as already changed, so three devices named A give A, A_1 and A_2.
    for (size_t i = 0; i < list.size(); ++i)
        for (size_t j = i + 1; j < list.size(); ++j)
            if (std::wcscmp(list[i].szFriendlyName, list[j].szFriendlyName) == 0)
                AppendPosition(list[j].szFriendlyName, j);
    if (list.empty()) return nullptr;
    count = static_cast<int>(list.size());
    auto* result = new VORKCamInfo[list.size()];
    for (size_t i = 0; i < list.size(); ++i) result[i] = list[i];
    return result;
}

void CVORKDirectShowGrabber::GetActCamInfo(VORKCamInfo& info) {
    VORKCameraLock lock;
    info.nDeviceNumber = m_ActCamInfo.nDeviceNumber;
    VORKCopy(info.szFriendlyName, m_ActCamInfo.szFriendlyName);
    VORKCopy(info.szDevicePath, m_ActCamInfo.szDevicePath);
}
