// The --out pattern: a file name with at most one %d, optionally with a width
// (%03d, %4d), and %% for a percent sign. Checked once, before the camera opens.
#pragma once

#include <string>

#include "ImageFile.h"

class OutputPattern {
public:
    // Throws UsageError naming --out when the pattern is not usable.
    explicit OutputPattern(const std::wstring& text);

    // The file name of picture `index`.
    std::wstring Name(long long index) const;
    bool Numbered() const { return numbered_; }
    ImageKind Kind() const { return kind_; }

private:
    std::wstring prefix_;
    std::wstring suffix_;
    bool numbered_ = false;
    bool zeroPadded_ = false;
    int width_ = 0;
    ImageKind kind_ = ImageKind::Png;
};
