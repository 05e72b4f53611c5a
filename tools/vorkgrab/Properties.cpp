#include "Properties.h"

namespace {

const NamedProperty kProperties[] = {
    {"brightness", PropertyKind::ProcAmp, VideoProcAmp_Brightness},
    {"contrast", PropertyKind::ProcAmp, VideoProcAmp_Contrast},
    {"hue", PropertyKind::ProcAmp, VideoProcAmp_Hue},
    {"saturation", PropertyKind::ProcAmp, VideoProcAmp_Saturation},
    {"sharpness", PropertyKind::ProcAmp, VideoProcAmp_Sharpness},
    {"gamma", PropertyKind::ProcAmp, VideoProcAmp_Gamma},
    {"colorenable", PropertyKind::ProcAmp, VideoProcAmp_ColorEnable},
    {"whitebalance", PropertyKind::ProcAmp, VideoProcAmp_WhiteBalance},
    {"pan", PropertyKind::CameraControl, CameraControl_Pan},
    {"tilt", PropertyKind::CameraControl, CameraControl_Tilt},
    {"roll", PropertyKind::CameraControl, CameraControl_Roll},
    {"zoom", PropertyKind::CameraControl, CameraControl_Zoom},
    {"exposure", PropertyKind::CameraControl, CameraControl_Exposure},
    {"iris", PropertyKind::CameraControl, CameraControl_Iris},
    {"focus", PropertyKind::CameraControl, CameraControl_Focus},
    {"gain", PropertyKind::Gain, 0},
    {"offset", PropertyKind::Offset, 0},
    {"backlight", PropertyKind::Backlight, 0},
};

constexpr int kAuto = 1;     // VideoProcAmp_Flags_Auto, CameraControl_Flags_Auto
constexpr int kManual = 2;   // VideoProcAmp_Flags_Manual, CameraControl_Flags_Manual

}  // namespace

const NamedProperty* FindProperty(const std::string& name) {
    for (const auto& p : kProperties)
        if (name == p.name) return &p;
    return nullptr;
}

const NamedProperty* PropertiesBegin() { return std::begin(kProperties); }
const NamedProperty* PropertiesEnd() { return std::end(kProperties); }

int ReadProperty(CVORKDirectShowGrabber& g, const NamedProperty& p, PropertyValue& value) {
    int flags = 0;
    int result = 0;
    switch (p.kind) {
    case PropertyKind::ProcAmp:
        result = g.GetProcAmpParam(static_cast<tagVideoProcAmpProperty>(p.property), value.percent, &flags);
        break;
    case PropertyKind::CameraControl:
        result = g.GetCamCtrlParam(static_cast<tagCameraControlProperty>(p.property), value.percent, &flags);
        break;
    case PropertyKind::Gain: return g.GetADGain(value.percent, 0);
    case PropertyKind::Offset: return g.GetADOffset(value.percent, 0);
    case PropertyKind::Backlight: {
        // Switched off, it is answered without the camera, which may have no such control.
        double step = 0;
        if (g.ReadProcAmpStep(VideoProcAmp_BacklightCompensation, step) != 0) return 3;
        return g.GetBacklightComp(value.percent, value.automatic, value.enabled);
    }
    }
    value.automatic = flags == kAuto;
    return result;
}

int WriteProperty(CVORKDirectShowGrabber& g, const NamedProperty& p, const PropertyValue& value) {
    const int flags = value.automatic ? kAuto : kManual;
    switch (p.kind) {
    case PropertyKind::ProcAmp:
        return g.SetProcAmpParam(static_cast<tagVideoProcAmpProperty>(p.property), value.percent, flags);
    case PropertyKind::CameraControl:
        return g.SetCamCtrlParam(static_cast<tagCameraControlProperty>(p.property), value.percent, flags);
    case PropertyKind::Gain: return g.SetADGain(value.percent, 0);
    case PropertyKind::Offset: return g.SetADOffset(value.percent, 0);
    case PropertyKind::Backlight: return g.SetBacklightComp(value.percent, value.automatic, value.enabled);
    }
    return 3;
}

int ReadStep(CVORKDirectShowGrabber& g, const NamedProperty& p, double& percent) {
    switch (p.kind) {
    case PropertyKind::ProcAmp: return g.ReadProcAmpStep(static_cast<tagVideoProcAmpProperty>(p.property), percent);
    case PropertyKind::CameraControl:
        return g.ReadCamCtrlStep(static_cast<tagCameraControlProperty>(p.property), percent);
    case PropertyKind::Gain: return g.ReadProcAmpStep(VideoProcAmp_Gain, percent);
    case PropertyKind::Offset: return g.ReadProcAmpStep(VideoProcAmp_Brightness, percent);
    case PropertyKind::Backlight: return g.ReadProcAmpStep(VideoProcAmp_BacklightCompensation, percent);
    }
    return 3;
}

std::string Describe(const NamedProperty& p, const PropertyValue& value) {
    if (p.kind == PropertyKind::Backlight && !value.enabled) return "off";
    std::string text = std::to_string(value.percent) + "%";
    if (p.kind != PropertyKind::Gain && p.kind != PropertyKind::Offset) text += value.automatic ? " auto" : " manual";
    return text;
}
