// Bounded wide-string formatting and copying: every result is terminated and
// nothing is written past the buffer, on every C runtime.
#pragma once

#include <cstddef>
#include <cwchar>

// Formats into a buffer of `count` characters; a longer text is cut.
void VORKFormat(wchar_t* buffer, size_t count, const wchar_t* format, ...);

// Copies at most count - 1 characters and terminates.
void VORKCopy(wchar_t* buffer, size_t count, const wchar_t* text);

template <size_t N>
void VORKCopy(wchar_t (&buffer)[N], const wchar_t* text) {
    VORKCopy(buffer, N, text);
}
