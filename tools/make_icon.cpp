// Draws the application icon (a framed landscape photo on a blue tile) at
// the nine sizes Windows asks for and writes them as one .ico file. Plain
// C++ with no libraries, so a cross-build can run it on the build machine.
#include <math.h>
#include <stdint.h>
#include <stdio.h>

#include <vector>

namespace {

const int kSizes[] = {16, 20, 24, 32, 40, 48, 64, 128, 256};
const int kSizeCount = sizeof kSizes / sizeof kSizes[0];

struct Color {
  double r, g, b, a;
};

Color Mix(Color from, Color to, double t) {
  t = t < 0 ? 0 : t > 1 ? 1 : t;
  return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t,
          from.b + (to.b - from.b) * t, from.a + (to.a - from.a) * t};
}

// Inside a rectangle with rounded corners, in unit coordinates.
bool InRoundedBox(double x, double y, double left, double top, double right,
                  double bottom, double radius) {
  if (x < left || x > right || y < top || y > bottom) return false;
  double cx = x < left + radius ? left + radius
              : x > right - radius ? right - radius : x;
  double cy = y < top + radius ? top + radius
              : y > bottom - radius ? bottom - radius : y;
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

// The artwork at one point of the unit square (y grows downwards).
Color ArtAt(double x, double y) {
  const Color clear = {0, 0, 0, 0};
  if (!InRoundedBox(x, y, 0.02, 0.02, 0.98, 0.98, 0.2)) return clear;
  Color tile = Mix({0.20, 0.47, 0.80, 1}, {0.08, 0.24, 0.52, 1}, y);
  if (!InRoundedBox(x, y, 0.13, 0.20, 0.87, 0.80, 0.04)) return tile;
  if (!InRoundedBox(x, y, 0.19, 0.26, 0.81, 0.74, 0.0))
    return {0.98, 0.98, 0.96, 1};  // the photo's white border
  double hill = 0.60 + 0.07 * sin((x - 0.19) * 7.0);
  if (y > hill) return Mix({0.36, 0.70, 0.25, 1}, {0.16, 0.45, 0.14, 1},
                           (y - hill) / 0.15);
  double sun = hypot(x - 0.64, y - 0.40);
  if (sun < 0.08) return {1.0, 0.80, 0.20, 1};
  return Mix({0.55, 0.80, 0.98, 1}, {0.85, 0.93, 1.0, 1}, (y - 0.26) / 0.34);
}

// Averages a grid of samples per pixel so small sizes stay smooth.
Color PixelAt(int px, int py, int size) {
  const int grid = 6;
  Color sum = {0, 0, 0, 0};
  for (int j = 0; j < grid; j++)
    for (int i = 0; i < grid; i++) {
      Color c = ArtAt((px + (i + 0.5) / grid) / size,
                      (py + (j + 0.5) / grid) / size);
      sum.r += c.r * c.a;
      sum.g += c.g * c.a;
      sum.b += c.b * c.a;
      sum.a += c.a;
    }
  if (sum.a == 0) return sum;
  return {sum.r / sum.a, sum.g / sum.a, sum.b / sum.a, sum.a / (grid * grid)};
}

void Put16(std::vector<uint8_t> *out, unsigned v) {
  out->push_back(v & 0xff);
  out->push_back((v >> 8) & 0xff);
}

void Put32(std::vector<uint8_t> *out, uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

uint8_t Byte(double v) { return (uint8_t)lround(v * 255.0); }

// One icon image: a 32-bit device-independent bitmap, rows bottom up, then
// the one-bit transparency mask that older readers use.
std::vector<uint8_t> IconImage(int size) {
  std::vector<uint8_t> out;
  int mask_stride = ((size + 31) / 32) * 4;
  Put32(&out, 40);
  Put32(&out, size);
  Put32(&out, size * 2);  // colour rows and mask rows together
  Put16(&out, 1);
  Put16(&out, 32);
  Put32(&out, 0);
  Put32(&out, size * size * 4 + mask_stride * size);
  for (int i = 0; i < 4; i++) Put32(&out, 0);
  std::vector<uint8_t> mask(mask_stride * size, 0);
  for (int row = size - 1; row >= 0; row--)
    for (int col = 0; col < size; col++) {
      Color c = PixelAt(col, row, size);
      out.push_back(Byte(c.b));
      out.push_back(Byte(c.g));
      out.push_back(Byte(c.r));
      out.push_back(Byte(c.a));
      if (Byte(c.a) == 0)
        mask[(size - 1 - row) * mask_stride + col / 8] |= 0x80 >> (col % 8);
    }
  out.insert(out.end(), mask.begin(), mask.end());
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_icon out.ico\n");
    return 1;
  }
  std::vector<uint8_t> file, images;
  Put16(&file, 0);
  Put16(&file, 1);  // an icon, not a cursor
  Put16(&file, kSizeCount);
  uint32_t offset = 6 + 16 * kSizeCount;
  for (int size : kSizes) {
    std::vector<uint8_t> image = IconImage(size);
    file.push_back(size == 256 ? 0 : size);  // 0 stands for 256
    file.push_back(size == 256 ? 0 : size);
    file.push_back(0);
    file.push_back(0);
    Put16(&file, 1);
    Put16(&file, 32);
    Put32(&file, image.size());
    Put32(&file, offset);
    offset += image.size();
    images.insert(images.end(), image.begin(), image.end());
  }
  file.insert(file.end(), images.begin(), images.end());
  FILE *out = fopen(argv[1], "wb");
  if (out == NULL || fwrite(file.data(), 1, file.size(), out) != file.size() ||
      fclose(out) != 0) {
    fprintf(stderr, "make_icon: can't write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
