// Decodes the 8-bit RGB and RGBA PNG files that a browser's screenshot
// gives, so that tests can look at pixel colours.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
  std::uint8_t r, g, b;
};

struct Image {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;  // row by row
  const Rgb &At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Returns false with `error` set when the file is not a PNG of that kind.
bool ReadPng(const std::string &path, Image *image, std::string *error);
