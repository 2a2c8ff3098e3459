// A photo turned as its EXIF orientation says it is to be seen.
#include <FreeImage.h>

#include "image/imagefile.h"
#include "image/orientation.h"

static int Sideways(int orientation) {
  return orientation >= 5 && orientation <= 8;
}

void UprightTarget(int64_t W, int64_t H, int orientation, int64_t *new_width,
                   int64_t *new_height) {
  *new_width = Sideways(orientation) ? H : W;
  *new_height = Sideways(orientation) ? W : H;
}

static int Flipped(FIBITMAP *bitmap, const UprightWay *way) {
  return (!way->flip_horizontal || FlipImageHorizontal(bitmap)) &&
         (!way->flip_vertical || FlipImageVertical(bitmap));
}

FIBITMAP *UprightImage(FIBITMAP *bitmap, int orientation) {
  const UprightWay *way = WayUpright(orientation);
  FIBITMAP *upright = way->quarter_turns != 0
                          ? RotateImage(bitmap, 90.0 * way->quarter_turns)
                          : FreeImage_Clone(bitmap);
  if (upright == NULL) return NULL;
  if (!Flipped(upright, way)) {
    FreeImage_Unload(upright);
    return NULL;
  }
  return upright;
}
