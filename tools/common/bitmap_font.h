// A 5 x 7 bitmap font of the printable ASCII characters, for text drawn into images (the
// simulated cameras' stamp text, the configuration checker's layout picture).
#pragma once

#include <cstdint>

namespace quiltra::tools {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;

// The glyph of `c` (' ' to '~'): kGlyphHeight rows from the top, each in its low 5 bits, bit 4
// leftmost. Null for any other character.
const uint8_t* glyphRows(char c);

}  // namespace quiltra::tools
