// What a host program needs of the platform beyond the Win32 API: where the
// plug-in file lies, which cameras there are, and whether a stream is a terminal.
#pragma once

#include <cstdio>
#include <string>

namespace vork {

// The plug-in library's full path: beside the running program.
std::wstring PluginPath();

// Makes the cameras available: on the simulated platform the cameras described
// in `descriptionFile` (a built-in camera when it is empty); on Windows the
// system's own cameras, and a description file is an error. False with `error`
// set when the cameras cannot be had.
bool PrepareCameras(const std::wstring& descriptionFile, std::wstring* error);

bool IsTerminal(std::FILE* stream);

// A path as the C runtime's narrow file functions take it on this platform.
std::string NarrowPath(const std::wstring& path);

}  // namespace vork
