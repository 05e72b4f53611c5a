// Mirroring of packed images in place: rows of width * bytesPerPixel bytes that
// follow each other directly, height rows. Both return the image (null for null).
#pragma once

#include "VORKDirectShowGrabber.h"

// Flips the image top to bottom: rows are exchanged pairwise from the outside in.
VORKDSG_API BYTE* MirrorImageVertical(BYTE* image, unsigned width, unsigned height, unsigned bytesPerPixel);

// Mirrors every row left to right: pixels are exchanged pairwise from the ends.
VORKDSG_API BYTE* MirrorImageHorizontal(BYTE* image, unsigned width, unsigned height, unsigned bytesPerPixel);

// Which row reversal MirrorImageHorizontal uses on this processor ("ssse3" or "scalar").
VORKDSG_API const char* VORKMirrorImplementation();
