// What the fuzz targets share: a scratch folder, files written from the input,
// and the host's set-up (COM on the thread, log and events swallowed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorkfuzz {

// A folder of this process, made once.
const std::string& Folder();
std::wstring WidePath(const std::string& name);
void WriteFile(const std::string& name, const uint8_t* data, size_t size);

// COM initialised on this thread, the framework's log sent nowhere.
void HostSetUp();

// Splits the input at bytes 0x00 into up to `count` strings (missing ones empty).
std::wstring Part(const uint8_t* data, size_t size, int index);

}  // namespace vorkfuzz
