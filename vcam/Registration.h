// The cameras in the registry: the COM server of the filter class, and one
// entry per camera in the video input device category, made with
// IFilterMapper2. Each entry's property bag holds the camera's name, device
// path and description, which the filter reads when a moniker creates it.
//
// An unplugged camera leaves the category, as a removed device does: its
// entry is unregistered, and a value named after its instance under
// HKCU\Software\VORK\vorkvcam\Unplugged keeps its description until it
// returns under the same instance. Every process with a filter of the camera
// watches that key (see Presence.h).
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>

namespace vcam {

// The bag's keys that describe a camera, named as in a description file.
inline const wchar_t* const kDescriptionKeys[] = {
    L"FriendlyName", L"DevicePath", L"Formats", L"FrameRate",  L"ProcAmp",    L"CameraControl", L"StreamConfig",
    L"StartDelay",   L"DarkFrames", L"DropEvery", L"Unplug", L"VideoInfo2", L"Busy",        L"TopDown"};
// The bag's name of the camera's registered instance.
inline const wchar_t kInstanceKey[] = L"Instance";
inline const wchar_t kUnpluggedKey[] = L"Software\\VORK\\vorkvcam\\Unplugged";

// A string of a camera's property bag; false when it is absent or not a string.
bool ReadBag(IPropertyBag* bag, const wchar_t* name, std::wstring& value);
// The description the registration wrote into a camera's bag, as a description
// file's section.
std::wstring DescriptionOf(IPropertyBag* bag);

// One camera with the default description, for a machine without a camera.
HRESULT RegisterDefaultCamera();
// The cameras of a description file, in place of any registered before. A bad
// file, or a format this filter cannot make, registers nothing and says why on
// the standard error.
HRESULT RegisterDescribedCameras(const std::wstring& path);
// Every camera of this filter class, unplugged ones too, and the class itself.
HRESULT UnregisterCameras();

// A registered camera taken out of the category, and put back.
HRESULT UnplugCamera(const std::wstring& instance);
HRESULT ReturnCamera(const std::wstring& instance);

// What regsvr32 /i: hands over: "unplug:PATH" and "plug:PATH" unplug and return
// the cameras of that device path; anything else is a description file.
HRESULT Install(const std::wstring& commandLine);

}  // namespace vcam
