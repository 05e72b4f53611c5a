// Text from outside shown to the user: escaped, shortened, and numbers parsed
// strictly.
#pragma once

#include <string>

// UTF-8 text with control characters and terminal escapes shown as \xNN or
// \uNNNN, cut to `limit` characters with "..." after it.
std::string Printable(const std::wstring& text, size_t limit = 60);
std::string Printable(const std::string& utf8, size_t limit = 60);

// Plain decimal whole numbers and positive decimal fractions, nothing else: no
// sign but a leading minus where allowed, no spaces, hex, exponents, inf or nan.
bool ParseWhole(const std::string& text, long long min, long long max, long long& value);
bool ParseDecimal(const std::string& text, double max, double& value);
