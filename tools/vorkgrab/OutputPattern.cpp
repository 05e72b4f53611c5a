#include "OutputPattern.h"

#include "Errors.h"
#include "Text.h"

namespace {

constexpr int kMaxWidth = 9;
constexpr size_t kMaxLength = 1024;

[[noreturn]] void Refuse(const std::wstring& pattern, const std::string& why) {
    throw UsageError{"--out: '" + Printable(pattern) + "' " + why};
}

}  // namespace

OutputPattern::OutputPattern(const std::wstring& text) {
    if (text.empty()) Refuse(text, "is empty");
    if (text.size() > kMaxLength) Refuse(text, "is longer than " + std::to_string(kMaxLength) + " characters");
    std::wstring* part = &prefix_;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c < 0x20 || c == 0x7F) Refuse(text, "holds a control character");
        if (c != L'%') {
            *part += c;
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == L'%') {
            *part += L'%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        if (j < text.size() && text[j] == L'0') {
            zeroPadded_ = true;
            ++j;
        }
        int width = 0;
        while (j < text.size() && text[j] >= L'0' && text[j] <= L'9') {
            width = width * 10 + (text[j] - L'0');
            if (width > kMaxWidth) Refuse(text, "asks for more than " + std::to_string(kMaxWidth) + " digits");
            ++j;
        }
        if (j >= text.size() || text[j] != L'd') Refuse(text, "may hold only %d, %0Nd or %Nd, and %% for a percent sign");
        if (numbered_) Refuse(text, "holds more than one %d");
        numbered_ = true;
        width_ = width;
        part = &suffix_;
        i = j;
    }
    const std::wstring first = Name(0);
    if (first.back() == L'/' || first.back() == L'\\') Refuse(text, "names a folder, not a file");
    if (!KindOfPath(first, kind_)) Refuse(text, "must end in .png, .jpg, .bmp or .ppm");
    // The kind is read from the fixed end of the pattern, so that every file is alike.
    ImageKind last;
    if (numbered_ && !KindOfPath(suffix_, last)) Refuse(text, "must end in .png, .jpg, .bmp or .ppm after the %d");
}

std::wstring OutputPattern::Name(long long index) const {
    if (!numbered_) return prefix_;
    std::wstring digits = std::to_wstring(index);
    if (static_cast<int>(digits.size()) < width_)
        digits.insert(0, static_cast<size_t>(width_) - digits.size(), zeroPadded_ ? L'0' : L' ');
    return prefix_ + digits + suffix_;
}
