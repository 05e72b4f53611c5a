// Text conversion between the platform's wide strings and UTF-8 file names and
// file contents.
#pragma once

#include <string>

namespace vorksim {

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace vorksim
