#include "Text.h"

#include <cstdarg>

void VORKFormat(wchar_t* buffer, size_t count, const wchar_t* format, ...) {
    if (!buffer || count == 0) return;
    va_list args;
    va_start(args, format);
    // Some runtimes leave a cut text unterminated; the terminator is ours.
    std::vswprintf(buffer, count, format, args);
    va_end(args);
    buffer[count - 1] = L'\0';
}

void VORKCopy(wchar_t* buffer, size_t count, const wchar_t* text) {
    if (!buffer || count == 0) return;
    size_t i = 0;
    if (text)
        for (; i + 1 < count && text[i]; ++i) buffer[i] = text[i];
    buffer[i] = L'\0';
}
