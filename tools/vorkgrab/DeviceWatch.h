// Whether a capture device is attached, asked of the platform's device
// enumerator directly: a host waiting for a pulled camera keeps the board closed,
// since opening it while the camera is away falls back to another camera and
// rewrites the user's INI file.
#pragma once

#include <string>

// True when a video input device with this device path is enumerated now.
bool DeviceAttached(const std::wstring& devicePath);
