// Camera description files of any content: loaded or refused with a message
// that names the file.
#include <cstdlib>

#include "FuzzSupport.h"
#include "vorksim/cameras.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorkfuzz::WriteFile("cams.ini", data, size);
    const std::wstring path = vorkfuzz::WidePath("cams.ini");
    std::wstring error;
    std::vector<vorksim::CameraId> added;
    if (!vorksim::LoadCameraFile(path, &added, &error)) {
        if (error.compare(0, path.size(), path) != 0 || !added.empty()) std::abort();
        if (error.size() > path.size() + 400) std::abort();  // the echo of a value is cut short
    }
    vorksim::RemoveAllCameras();
    return 0;
}
