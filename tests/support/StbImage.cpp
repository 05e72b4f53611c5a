// The implementation of stb_image (Debian's libstb-dev, header only), with which
// the tests decode the program's PNG and JPEG files; its own code, not held to
// our warnings.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#include "stb_image.h"
