#include "vorksim/text.h"

#include "vork/utf8.h"

namespace vorksim {

std::string ToUtf8(const std::wstring& text) { return vork::Utf8(text); }
std::wstring FromUtf8(const std::string& text) { return vork::FromUtf8(text); }

}  // namespace vorksim
