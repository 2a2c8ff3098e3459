// A photo turned as its EXIF orientation says it is to be seen.
#include <FreeImage.h>

#include "image/imagefile.h"

// What makes each orientation's pixels upright: a counter-clockwise turn,
// then a flip. 5 and 7 are stored mirrored across a diagonal.
struct ToUpright {
  double turn;
  int flip_horizontal, flip_vertical;
};
static const ToUpright kToUpright[9] = {
    {0, 0, 0},                                 // none: as stored
    {0, 0, 0},   {0, 1, 0},   {180, 0, 0},   {0, 0, 1},
    {90, 0, 1},  {270, 0, 0}, {270, 0, 1},   {90, 0, 0}};

static int Sideways(int orientation) {
  return orientation >= 5 && orientation <= 8;
}

void UprightTarget(int64_t W, int64_t H, int orientation, int64_t *new_width,
                   int64_t *new_height) {
  *new_width = Sideways(orientation) ? H : W;
  *new_height = Sideways(orientation) ? W : H;
}

static int Flipped(FIBITMAP *bitmap, const ToUpright *way) {
  return (!way->flip_horizontal || FlipImageHorizontal(bitmap)) &&
         (!way->flip_vertical || FlipImageVertical(bitmap));
}

FIBITMAP *UprightImage(FIBITMAP *bitmap, int orientation) {
  const ToUpright *way = &kToUpright[orientation >= 1 && orientation <= 8
                                          ? orientation
                                          : 0];
  FIBITMAP *upright = way->turn != 0 ? RotateImage(bitmap, way->turn)
                                     : FreeImage_Clone(bitmap);
  if (upright == NULL) return NULL;
  if (!Flipped(upright, way)) {
    FreeImage_Unload(upright);
    return NULL;
  }
  return upright;
}
