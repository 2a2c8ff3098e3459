// The five edits on a bitmap, and the size each makes, known before any
// work.
#include <FreeImage.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>

#include "image/imagefile.h"
#include "image/pixels/carry.h"
#include "image/pixels/forms.h"

static int FitsInt(int64_t value) {
  return value >= INT_MIN && value <= INT_MAX;
}

// An edit's result in place of its source, with its profile and resolution.
static FIBITMAP *Carried(FIBITMAP *source, FIBITMAP *result) {
  CarryPhotoData(source, result);
  return result;
}

// The library takes the rectangle's corners in either order, and refuses
// one that reaches outside the image or holds no pixel.
void CropTarget(int64_t W, int64_t H, int x, int y, int w, int h,
                int64_t *new_width, int64_t *new_height) {
  int64_t left = x, right = (int64_t)x + w, top = y, bottom = (int64_t)y + h;
  int inside = (left >= 0 && right >= 0 && left <= W && right <= W) &&
               (top >= 0 && bottom >= 0 && top <= H && bottom <= H);
  *new_width = inside ? llabs(w) : 0;
  *new_height = inside && *new_width > 0 ? llabs(h) : 0;
  if (*new_height == 0) *new_width = 0;
}

FIBITMAP *CropImage(FIBITMAP *bitmap, int x, int y, int w, int h) {
  int64_t right = (int64_t)x + w;
  int64_t bottom = (int64_t)y + h;
  if (!FitsInt(right) || !FitsInt(bottom)) return NULL;
  return Carried(bitmap, FreeImage_Copy(bitmap, x, y, (int)right, (int)bottom));
}

// A corner a whole turn leaves this close to where it would be is taken to be
// there: far below what any pixel shows.
static const double kCornerTolerance = 0.001;
static const double kRadiansPerDegree = 3.14159265358979323846 / 180;

// An angle's error e moves the corners, a half-diagonal r from the centre,
// along a chord of 2 r sin(e / 2).
int QuarterTurnsOf(double angle, int64_t W, int64_t H) {
  if (!isfinite(angle)) return -1;
  double turn = fmod(angle, 360);  // exact, whatever the angle's size
  double quarters = nearbyint(turn / 90);
  double error = fabs(turn - quarters * 90) * kRadiansPerDegree;
  double half_diagonal = hypot((double)W, (double)H) / 2;
  if (2 * half_diagonal * sin(error / 2) >= kCornerTolerance) return -1;
  int whole = (int)fmod(quarters, 4);
  return whole < 0 ? whole + 4 : whole;
}

// The library brings large angles into range one turn at a time, which never
// ends for angles like 1e300; whole turns are taken off here instead.
FIBITMAP *RotateImage(FIBITMAP *bitmap, double angle) {
  if (!isfinite(angle)) return NULL;
  int quarters = QuarterTurnsOf(angle, FreeImage_GetWidth(bitmap),
                                FreeImage_GetHeight(bitmap));
  angle = quarters >= 0 ? quarters * 90 : fmod(angle, 360);
  return Carried(bitmap, RotateInForm(bitmap, angle));
}

// Quarter turns swap the sides; other angles make the bounding box of the
// turned image, which the library rounds to the nearest pixel (a pixel more
// here, since this only guards memory).
void RotateTarget(int64_t W, int64_t H, double angle, int64_t *new_width,
                  int64_t *new_height) {
  *new_width = *new_height = 0;
  if (!isfinite(angle)) return;
  int quarters = QuarterTurnsOf(angle, W, H);
  if (quarters >= 0) {
    *new_width = quarters % 2 ? H : W;
    *new_height = quarters % 2 ? W : H;
    return;
  }
  double turn = fmod(angle, 360);
  double c = fabs(cos(turn * kRadiansPerDegree));
  double s = fabs(sin(turn * kRadiansPerDegree));
  *new_width = (int64_t)ceil(W * c + H * s) + 1;
  *new_height = (int64_t)ceil(W * s + H * c) + 1;
}

int FlipImageHorizontal(FIBITMAP *bitmap) {
  return FlipHorizontalInForm(bitmap);
}

int FlipImageVertical(FIBITMAP *bitmap) {
  return FreeImage_FlipVertical(bitmap);
}

void ResizeTarget(int64_t W, int64_t H, int width, int height,
                  int64_t *new_width, int64_t *new_height) {
  *new_width = *new_height = 0;
  if (W <= 0 || H <= 0) return;  // nothing to be in proportion to
  int64_t w = width;
  int64_t h = height;
  // A side in proportion is at least a pixel: a 3 x 1000 strip made 100 high
  // is 1 wide, where rounding down would leave nothing to resize to.
  if (w <= 0) {
    if (h <= 0) h = 128;
    w = W * h / H;
    if (w < 1) w = 1;
  }
  if (h <= 0) {
    h = H * w / W;
    if (h < 1) h = 1;
  }
  *new_width = w;
  *new_height = h;
}

FIBITMAP *ResizeImage(FIBITMAP *bitmap, int width, int height,
                      ResizeFilter filter) {
  int64_t w, h;
  ResizeTarget(FreeImage_GetWidth(bitmap), FreeImage_GetHeight(bitmap), width,
               height, &w, &h);
  if (w <= 0 || h <= 0 || !FitsInt(w) || !FitsInt(h)) return NULL;
  return Carried(bitmap, RescaleInForm(bitmap, (int)w, (int)h, filter));
}
