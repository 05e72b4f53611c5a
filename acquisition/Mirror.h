// Mirroring of packed images in place: rows of width * bytesPerPixel bytes that
// follow each other directly, height rows. Both return the image (null for null).
#pragma once

#include "VORKDirectShowGrabber.h"

// Flips the image top to bottom: rows are exchanged pairwise from the outside in.
VORKDSG_API BYTE* MirrorImageVertical(BYTE* image, unsigned width, unsigned height, unsigned bytesPerPixel);

// Mirrors every row left to right: pixels are exchanged pairwise from the ends.
VORKDSG_API BYTE* MirrorImageHorizontal(BYTE* image, unsigned width, unsigned height, unsigned bytesPerPixel);

// Which kernel the mirroring uses: "avx2", "ssse3" or "scalar".
VORKDSG_API const char* VORKMirrorImplementation();
// Makes the mirroring use the named kernel, so that each can be checked and
// measured on one machine; false when this processor lacks it. Null returns to
// the best one the processor offers.
VORKDSG_API bool VORKSetMirrorImplementation(const char* name);
