// Transform filters the simulated graph inserts while it connects.
#pragma once

#include <vector>

#include "dshow_internal.h"

namespace vorksim {

enum class TransformKind { ColorSpaceConverter, MjpegDecompressor };

// What the graph needs to know of a filter it may insert.
class TransformMarker {
public:
    virtual ~TransformMarker() = default;
    virtual TransformKind kind() const = 0;
    virtual PinBase* Input() = 0;
    virtual PinBase* Output() = 0;
    virtual const wchar_t* KindName() const = 0;
};

// The kinds the graph tries, in order.
std::vector<TransformKind> TransformKinds();

// A new filter of the kind, with one reference for the caller.
IBaseFilter* CreateTransform(TransformKind kind);

}  // namespace vorksim
