// The one translation unit that compiles the stb_image decoder (PNG and PNM only).
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_PNM
#define STBI_FAILURE_USERMSG
#include <stb_image.h>
