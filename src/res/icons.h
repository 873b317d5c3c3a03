#pragma once

// Icons as data: each image is a square of rows, one palette character per
// pixel, drawn anew for every size the window asks for (32 and 16 pixels).

#include <cstdint>
#include <string_view>
#include <vector>

#include "res/resources.h"

namespace pelvaron::res {

struct PaletteEntry {
  char key;
  std::uint32_t argb;  // 0xAARRGGBB
};

struct IconImage {
  int size = 0;                        // width and height in pixels
  std::vector<std::string_view> rows;  // size rows of size characters
};

struct IconResource {
  int id = 0;
  std::vector<IconImage> images;

  // The image of exactly this size, or nullptr.
  const IconImage* Image(int size) const;
};

// Icons 128 (program), 141 (red square) and 142 (green square), or nullptr.
const IconResource* FindIcon(int id);

const std::vector<PaletteEntry>& IconPalette();
// Colour of a palette character; unknown characters are transparent.
std::uint32_t PaletteColour(char c);

}  // namespace pelvaron::res
