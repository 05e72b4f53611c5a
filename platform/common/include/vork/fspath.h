// File names for std::filesystem on every platform: native wide names on
// Windows, UTF-8 bytes elsewhere, never the locale's conversion (which throws on
// a character the locale lacks).
#pragma once

#include <filesystem>
#include <string>

#include "vork/utf8.h"

namespace vork {

inline std::filesystem::path FilePath(const std::wstring& path) {
#ifdef _WIN32
    return std::filesystem::path(path);
#else
    return std::filesystem::path(Utf8(path));
#endif
}

}  // namespace vork
