// Unplugging as Windows does it, for every filter of a camera in this process.
// A camera leaves the video input category (Registration.h) when a test says
// so (regsvr32 /i:"unplug:PATH") or when its description's Unplug time after
// its first run here has passed; one thread per process watches the registry's
// mark of unplugged cameras and tells the filters, which stay dead and tell
// their graphs. The thread runs while this process has filters of registered
// cameras or a timed unplug or return is due, and holds the module loaded.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vcam {

class Filter;

namespace Presence {

// A filter bound to a registered camera, from Load to its destruction; never
// under the filter's own locks.
void Join(Filter* filter);
void Leave(Filter* filter);
// The camera's first run in this process: it is unplugged `afterMs` later, and
// returns `backMs` after that.
void FirstRun(const std::wstring& instance, DWORD afterMs, std::optional<DWORD> backMs);

}  // namespace Presence
}  // namespace vcam
