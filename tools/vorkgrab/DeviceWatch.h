// Whether a capture device is attached, asked of the platform's device
// enumerator directly: a host waiting for a pulled camera keeps the board closed,
// since opening it while the camera is away falls back to another camera and
// rewrites the user's INI file.
#pragma once

#include <chrono>
#include <string>

// True when a video input device with this device path is enumerated now, and
// for an empty path: a camera with none cannot be looked for.
bool DeviceAttached(const std::wstring& devicePath);
// The path under which the open camera can be looked for: the active camera's,
// or empty when the enumeration has no device of that path (a camera without
// one, which the plug-in names with a path of its own making).
std::wstring WatchablePath(const std::wstring& activePath);

// Watches a streaming camera for a loss that no error event reports: frames
// that stop with the device gone from the enumeration (asked after half a
// second without frames, and then every half second), or, with the device
// still listed, frames that stop for longer than the time-out and two of the
// camera's frame intervals after it had delivered two since it was opened:
// pulled and back between two looks, or hung.
class QuietCamera {
public:
    using Clock = std::chrono::steady_clock;
    // rate: the camera's frames per second; 0 when unknown.
    QuietCamera(std::wstring devicePath, int timeoutMs, double rate);
    void Frame();  // one came
    // Why the camera is to be taken as lost now; empty while it is not.
    std::string Lost();
    // No frame for longer than the time-out.
    bool Starved() const;

private:
    double QuietMs() const;
    std::wstring devicePath_;
    int timeoutMs_;
    double stallMs_;
    Clock::time_point lastFrame_ = Clock::now(), lastLook_ = Clock::now();
    long frames_ = 0;
};
