#include "Text.h"

#include <cstdio>
#include <cstdlib>

#include "vork/utf8.h"

std::string Printable(const std::wstring& text, size_t limit) {
    std::wstring shown;
    size_t count = 0;
    for (wchar_t c : text) {
        if (count == limit) {
            shown += L"...";
            break;
        }
        const auto code = static_cast<unsigned long>(c);
        if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0)) {
            wchar_t escaped[8];
            std::swprintf(escaped, 8, code < 0x80 ? L"\\x%02lX" : L"\\u%04lX", code);
            shown += escaped;
        } else {
            shown += c;
        }
        ++count;
    }
    return vork::Utf8(shown);
}

std::string Printable(const std::string& utf8, size_t limit) { return Printable(vork::FromUtf8(utf8), limit); }

bool ParseWhole(const std::string& text, long long min, long long max, long long& value) {
    size_t at = 0;
    const bool negative = !text.empty() && text[0] == '-' && min < 0;
    if (negative) at = 1;
    if (at == text.size() || text.size() - at > 18) return false;
    long long v = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') return false;
        v = v * 10 + (text[at] - '0');
    }
    if (negative) v = -v;
    if (v < min || v > max) return false;
    value = v;
    return true;
}

bool ParseDecimal(const std::string& text, double max, double& value) {
    size_t digits = 0, points = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9') ++digits;
        else if (c == '.') ++points;
        else return false;
    }
    if (digits == 0 || points > 1 || text.size() > 32) return false;
    const double v = std::strtod(text.c_str(), nullptr);
    if (!(v > 0) || v > max) return false;
    value = v;
    return true;
}
