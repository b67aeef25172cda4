#include "tests/support/png_image.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/text_files.h"

namespace {

std::uint32_t BigEndian32(const std::string &s, std::size_t at) {
  const auto *p = reinterpret_cast<const unsigned char *>(s.data() + at);
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

int Paeth(int a, int b, int c) {
  int p = a + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Undoes the per-row filters in place; `raw` holds each row's filter byte
// followed by its bytes.
bool Unfilter(std::vector<unsigned char> &raw, int height, std::size_t stride, int bpp) {
  std::vector<unsigned char> previous(stride, 0);
  for (int y = 0; y < height; ++y) {
    unsigned char *row = raw.data() + y * (stride + 1);
    int filter = row[0];
    unsigned char *cur = row + 1;
    for (std::size_t i = 0; i < stride; ++i) {
      int a = i >= static_cast<std::size_t>(bpp) ? cur[i - bpp] : 0;
      int b = previous[i];
      int c = i >= static_cast<std::size_t>(bpp) ? previous[i - bpp] : 0;
      int add = 0;
      switch (filter) {
        case 0: break;
        case 1: add = a; break;
        case 2: add = b; break;
        case 3: add = (a + b) / 2; break;
        case 4: add = Paeth(a, b, c); break;
        default: return false;
      }
      cur[i] = static_cast<unsigned char>(cur[i] + add);
    }
    std::memcpy(previous.data(), cur, stride);
  }
  return true;
}

}  // namespace

bool ReadPng(const std::string &path, Image *image, std::string *error) {
  std::string file = ReadFile(path);
  if (file.size() < 8 || file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
    *error = "not a PNG file: " + path;
    return false;
  }
  std::string compressed;
  int colourType = -1, depth = 0;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    std::uint32_t length = BigEndian32(file, at);
    std::string type = file.substr(at + 4, 4);
    if (at + 12 + length > file.size()) break;
    if (type == "IHDR" && length >= 13) {
      image->width = static_cast<int>(BigEndian32(file, at + 8));
      image->height = static_cast<int>(BigEndian32(file, at + 12));
      depth = static_cast<unsigned char>(file[at + 16]);
      colourType = static_cast<unsigned char>(file[at + 17]);
    } else if (type == "IDAT") {
      compressed += file.substr(at + 8, length);
    }
    at += 12 + length;
  }
  if (depth != 8 || (colourType != 2 && colourType != 6) || image->width <= 0 ||
      image->height <= 0) {
    *error = "not an 8-bit RGB or RGBA PNG: " + path;
    return false;
  }
  int bpp = colourType == 6 ? 4 : 3;
  std::size_t stride = static_cast<std::size_t>(image->width) * bpp;
  std::vector<unsigned char> raw((stride + 1) * image->height);
  uLongf rawSize = raw.size();
  if (uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef *>(compressed.data()),
                 compressed.size()) != Z_OK ||
      rawSize != raw.size() || !Unfilter(raw, image->height, stride, bpp)) {
    *error = "damaged PNG data: " + path;
    return false;
  }
  image->pixels.clear();
  for (int y = 0; y < image->height; ++y) {
    const unsigned char *row = raw.data() + y * (stride + 1) + 1;
    for (int x = 0; x < image->width; ++x) {
      const unsigned char *p = row + x * bpp;
      image->pixels.push_back(Rgb{p[0], p[1], p[2]});
    }
  }
  return true;
}
