#include "res/icons.h"

namespace pelvaron::res {

namespace {

// Palette of every icon: a character of a row names its colour.
const std::vector<PaletteEntry> kPalette = {
    {'.', 0x00000000u},  // transparent
    {'K', 0xFF102050u},  // outline, dark navy
    {'B', 0xFF285ABEu},  // shield, blue
    {'W', 0xFFFFFFFFu},  // the guarded house
    {'R', 0xFFE61E1Eu},  // its alarm lamp
    {'r', 0xFFFF0000u},  // plain red
    {'g', 0xFF00FF00u},  // plain green
};

// The program icon: a shield guarding a house with an alarm lamp in its window.
const std::vector<std::string_view> kProgram32 = {
    "................................", "................................",
    "..KKKKKKKKKKKKKKKKKKKKKKKKKKKK..", "..KBBBBBBBBBBBBBBBBBBBBBBBBBBK..",
    "..KBBBBBBBBBBBBBBBBBBBBBBBBBBK..", "..KBBBBBBBBBBBBBBBBBBBBBBBBBBK..",
    "..KBBBBBBBBBBBBBBBBBBBBBBBBBBK..", "..KBBBBBBBBBBBBWWBBBBBBBBBBBBK..",
    "..KBBBBBBBBBBBWWWWBBBBBBBBBBBK..", "..KBBBBBBBBBBWWWWWWBBBBBBBBBBK..",
    "..KBBBBBBBBBWWWWWWWWBBBBBBBBBK..", "..KBBBBBBBBWWWWWWWWWWBBBBBBBBK..",
    "..KBBBBBBBWWWWWWWWWWWWBBBBBBBK..", "..KBBBBBBWWWWWWWWWWWWWWBBBBBBK..",
    "..KBBBBBWWWWWWWWWWWWWWWWBBBBBK..", "..KBBBBBBBWWWWWWWWWWWWBBBBBBBK..",
    "..KBBBBBBBWWWWWWWWWWWWBBBBBBBK..", "..KBBBBBBBWWWWRRRRWWWWBBBBBBBK..",
    "..KBBBBBBBWWWWRRRRWWWWBBBBBBBK..", "...KBBBBBBWWWWRRRRWWWWBBBBBBK...",
    "...KBBBBBBWWWWWWWWWWWWBBBBBBK...", "....KBBBBBWWWWWWWWWWWWBBBBBK....",
    ".....KBBBBWWWWWWWWWWWWBBBBK.....", "......KBBBWWWWWWWWWWWWBBBK......",
    ".......KBBBBBBBBBBBBBBBBK.......", "........KBBBBBBBBBBBBBBK........",
    ".........KKBBBBBBBBBBKK.........", "...........KBBBBBBBBK...........",
    "............KKBBBBKK............", "..............KBBK..............",
    "...............KK...............", "................................",
};

// Drawn anew at 16 pixels rather than scaled, so that it stays legible.
const std::vector<std::string_view> kProgram16 = {
    "................", ".KKKKKKKKKKKKKK.", ".KBBBBBBBBBBBBK.", ".KBBBBBWWBBBBBK.",
    ".KBBBBWWWWBBBBK.", ".KBBBWWWWWWBBBK.", ".KBBWWWWWWWWBBK.", ".KBBBWWWWWWBBBK.",
    ".KBBBWWRRWWBBBK.", ".KBBBWWRRWWBBBK.", ".KBBBWWWWWWBBBK.", "..KBBWWWWWWBBK..",
    "...KBBBBBBBBK...", "....KBBBBBBK....", ".....KKBBKK.....", ".......KK.......",
};

std::vector<std::string_view> Square(int size, char colour) {
  static const std::string_view kRow("rrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrgggggggggggggggggggggggggggggggg");
  std::string_view row = colour == 'r' ? kRow.substr(0, 32) : kRow.substr(32, 32);
  return std::vector<std::string_view>(static_cast<std::size_t>(size),
                                       row.substr(0, static_cast<std::size_t>(size)));
}

std::vector<IconResource> MakeIcons() {
  return {
      {IDI_PROGRAM, {{32, kProgram32}, {16, kProgram16}}},
      {IDI_ALARM, {{32, Square(32, 'r')}, {16, Square(16, 'r')}}},
      {IDI_NORMAL, {{32, Square(32, 'g')}, {16, Square(16, 'g')}}},
  };
}

}  // namespace

const std::vector<PaletteEntry>& IconPalette() {
  return kPalette;
}

const IconResource* FindIcon(int id) {
  static const std::vector<IconResource> icons = MakeIcons();
  for (const IconResource& icon : icons)
    if (icon.id == id) return &icon;
  return nullptr;
}

const IconImage* IconResource::Image(int size) const {
  for (const IconImage& image : images)
    if (image.size == size) return &image;
  return nullptr;
}

std::uint32_t PaletteColour(char c) {
  for (const PaletteEntry& e : kPalette)
    if (e.key == c) return e.argb;
  return 0;
}

}  // namespace pelvaron::res
