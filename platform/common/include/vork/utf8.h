// UTF-8 text to and from the platform's wide strings (UTF-32 on Linux, UTF-16
// code units on Windows, where characters beyond the first plane are not joined).
#pragma once

#include <cstdint>
#include <string>

namespace vork {

inline std::string Utf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF && sizeof(wchar_t) == 4)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

inline std::wstring FromUtf8(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 9;
        if (extra == 9 || i + extra >= text.size() + (extra == 0 ? 1 : 0)) {
            out += static_cast<wchar_t>(0xFFFD);
            ++i;
            continue;
        }
        uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
        bool valid = true;
        for (size_t k = 1; k <= extra; ++k) {
            const auto cb = static_cast<unsigned char>(text[i + k]);
            valid = valid && (cb & 0xC0) == 0x80;
            c = (c << 6) | (cb & 0x3F);
        }
        out += static_cast<wchar_t>(valid ? c : 0xFFFD);
        i += valid ? extra + 1 : 1;
    }
    return out;
}

}  // namespace vork
