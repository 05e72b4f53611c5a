// The device's image and camera properties as percentages of their ranges, the
// framework's A/D gain and offset, backlight compensation and the device's own
// property pages.
#include <algorithm>

#include "VORKDirectShowGrabber.h"

#include "Percent.h"

namespace {

// IAMVideoProcAmp and IAMCameraControl have the same three methods.
template <class Interface>
int SetInPercent(CVORKDirectShowGrabber& grabber, Interface* device, LONG property, int percent, int flags) {
    if (!device) return 2;
    LONG min = 0, max = 0, step = 0, def = 0, caps = 0;
    if (FAILED(device->GetRange(property, &min, &max, &step, &def, &caps))) return 11;
    const LONG value = VORKPercentToDeviceValue(min, max, percent);
    if (grabber.ShowError(device->Set(property, value, flags))) return 11;
    return 0;
}

template <class Interface>
int GetInPercent(CVORKDirectShowGrabber& grabber, Interface* device, LONG property, int& percent, int* flags) {
    if (!device) return 2;
    LONG min = 0, max = 0, step = 0, def = 0, caps = 0;
    if (FAILED(device->GetRange(property, &min, &max, &step, &def, &caps))) return 11;
    LONG value = 0, valueFlags = 0;
    if (grabber.ShowError(device->Get(property, &value, &valueFlags))) return 11;
    percent = VORKDeviceValueToPercent(min, max, value);
    if (flags) *flags = valueFlags;
    return 0;
}

template <class Interface>
int StepInPercent(Interface* device, LONG property, double& percent) {
    if (!device) return 2;
    LONG min = 0, max = 0, step = 0, def = 0, caps = 0;
    if (FAILED(device->GetRange(property, &min, &max, &step, &def, &caps))) return 11;
    const double range = static_cast<double>(max) - static_cast<double>(min);
    // A device that reports no stepping still takes whole units.
    const double delta = step > 0 ? static_cast<double>(step) : 1.0;
    percent = range > 0 ? std::min(100.0, delta * 100.0 / range) : 100.0;
    return 0;
}

}  // namespace

int CVORKDirectShowGrabber::ReadProcAmpStep(tagVideoProcAmpProperty property, double& percent) {
    return StepInPercent(m_pProcAmp.p, property, percent);
}

int CVORKDirectShowGrabber::ReadCamCtrlStep(tagCameraControlProperty property, double& percent) {
    return StepInPercent(m_pCamCtrl.p, property, percent);
}

int CVORKDirectShowGrabber::SetProcAmpParam(tagVideoProcAmpProperty property, int percent, int flags) {
    return SetInPercent(*this, m_pProcAmp.p, property, percent, flags);
}

int CVORKDirectShowGrabber::GetProcAmpParam(tagVideoProcAmpProperty property, int& percent, int* flags) {
    return GetInPercent(*this, m_pProcAmp.p, property, percent, flags);
}

int CVORKDirectShowGrabber::SetCamCtrlParam(tagCameraControlProperty property, int percent, int flags) {
    return SetInPercent(*this, m_pCamCtrl.p, property, percent, flags);
}

int CVORKDirectShowGrabber::GetCamCtrlParam(tagCameraControlProperty property, int& percent, int* flags) {
    return GetInPercent(*this, m_pCamCtrl.p, property, percent, flags);
}

namespace {

// Whether the channel's record says that the device has the gain (or brightness).
bool ChannelOffers(CVORKDirectShowGrabber& grabber, int channel, VORKCamProperty CVORKChannelParams::*property) {
    CVORKChannelParams params(L"ChannelParams");
    grabber.GetCamChannelParams(params, channel);
    VORKCameraLock lock;
    return (params.*property).bAvailable != 0;
}

}  // namespace

int CVORKDirectShowGrabber::WriteADGain(int gain, int channel) {
    if (!ChannelOffers(*this, channel, &CVORKChannelParams::m_Gain)) return 3;
    return SetProcAmpParam(VideoProcAmp_Gain, gain, VideoProcAmp_Flags_Manual);
}

int CVORKDirectShowGrabber::ReadADGain(int& gain, int channel) {
    if (!ChannelOffers(*this, channel, &CVORKChannelParams::m_Gain)) return 3;
    return GetProcAmpParam(VideoProcAmp_Gain, gain, nullptr);
}

int CVORKDirectShowGrabber::WriteADOffset(int offset, int channel) {
    if (!ChannelOffers(*this, channel, &CVORKChannelParams::m_Brightness)) return 3;
    return SetProcAmpParam(VideoProcAmp_Brightness, offset, VideoProcAmp_Flags_Manual);
}

int CVORKDirectShowGrabber::ReadADOffset(int& offset, int channel) {
    if (!ChannelOffers(*this, channel, &CVORKChannelParams::m_Brightness)) return 3;
    return GetProcAmpParam(VideoProcAmp_Brightness, offset, nullptr);
}

int CVORKDirectShowGrabber::SetBacklightComp(int percent, bool autoMode, bool enable) {
    if (!m_pProcAmp) return 2;
    {
        VORKCameraLock lock;
        m_bBacklightCompEnabled = enable;
    }
    if (enable)
        return SetProcAmpParam(VideoProcAmp_BacklightCompensation, percent,
                               autoMode ? VideoProcAmp_Flags_Auto : VideoProcAmp_Flags_Manual);
    // Off means the device's default value, in manual mode.
    LONG min = 0, max = 0, step = 0, def = 0, caps = 0;
    ShowError(m_pProcAmp->GetRange(VideoProcAmp_BacklightCompensation, &min, &max, &step, &def, &caps));
    if (ShowError(m_pProcAmp->Set(VideoProcAmp_BacklightCompensation, def, VideoProcAmp_Flags_Manual))) return 11;
    return 0;
}

int CVORKDirectShowGrabber::GetBacklightComp(int& percent, bool& autoMode, bool& enable) {
    {
        VORKCameraLock lock;
        enable = m_bBacklightCompEnabled;
    }
    if (!enable) {
        percent = -1;
        autoMode = false;
        return 0;
    }
    int flags = -1;
    const int result = GetProcAmpParam(VideoProcAmp_BacklightCompensation, percent, &flags);
    autoMode = flags == VideoProcAmp_Flags_Auto;
    return result;
}

int CVORKDirectShowGrabber::ShowVideoSourcePropertyDlg(HWND owner) {
    if (!m_pCapSource) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::ShowVideoSourcePropertyDlg: No valid camera object!", 2, 2);
        return 0;
    }
    CComPtr<ISpecifyPropertyPages> pages;
    if (ShowError(m_pCapSource->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&pages))))
        return 0;
    FILTER_INFO info{};
    m_pCapSource->QueryFilterInfo(&info);
    CComPtr<IFilterGraph> graph;
    graph.Attach(info.pGraph);  // the reference QueryFilterInfo handed out
    CComPtr<IUnknown> object;
    m_pCapSource->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&object));
    CAUUID list{};
    const HRESULT hr = pages->GetPages(&list);
    pages.Release();
    // After a failed GetPages the page list means nothing: no frame is shown.
    if (SUCCEEDED(hr)) {
        IUnknown* objects[1] = {object.p};
        // Modal: returns when the user closes the frame.
        OleCreatePropertyFrame(owner, 0, 0, info.achName, 1, objects, list.cElems, list.pElems, 0, 0, nullptr);
        CoTaskMemFree(list.pElems);
    } else {
        ShowError(hr);
    }
    return 0;
}
