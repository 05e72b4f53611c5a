// The implementation of stb_image (Debian's libstb-dev, header only), with which
// the tests decode the program's picture files; its own code, not held to
// our warnings.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_PNM
#include "stb_image.h"
