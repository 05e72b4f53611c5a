// The cameras in the registry: the COM server of the filter class, and one
// entry per camera in the video input device category, made with
// IFilterMapper2. Each entry's property bag holds the camera's name, device
// path and description, which the filter reads when a moniker creates it.
#pragma once

#include <windows.h>

#include <string>

namespace vcam {

// One camera with the default description, for a machine without a camera.
HRESULT RegisterDefaultCamera();
// The cameras of a description file, in place of any registered before. A bad
// file, or a format this filter cannot make, registers nothing and says why on
// the standard error.
HRESULT RegisterDescribedCameras(const std::wstring& path);
// Every camera of this filter class, and the class itself.
HRESULT UnregisterCameras();

}  // namespace vcam
