// stb_image's implementation, for reading the target images.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_PNM
#include <stb_image.h>
