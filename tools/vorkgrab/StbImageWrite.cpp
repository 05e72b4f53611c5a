// The implementation of stb_image_write (Debian's libstb-dev, header only),
// compiled once for the PNG and JPEG writers; its own code, not held to our
// warnings.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"
