// Forms the image library handles: where the library gives a wrong result for
// a bitmap it loaded itself, the bitmap is handed over in a form it does
// handle (a depth the operation or the format supports, the palette copied
// back), made with the library's own conversions. Bitmaps the library
// already handles right go through untouched.
//
// Ownership: every function that returns a bitmap returns either the one it
// was given (FormAfterLoad, FormForSaving, when nothing needs changing) or a
// new one, and never releases or changes the one it was given; the caller
// releases what it no longer needs with FreeImage_Unload. NULL: the library
// refused or ran out of memory.
#ifndef ORVANE_IMAGE_PIXELS_FORMS_H
#define ORVANE_IMAGE_PIXELS_FORMS_H

#include "image/imagefile.h"

// Defined in forms.cpp, with the forms made after loading; save_forms.cpp
// holds those each writer needs and edit_forms.cpp the edits' own.

// A bitmap of 1 to 32 bits a pixel, not 16-bit channels or floats.
int IsPlainBitmap(FIBITMAP *bitmap);

// Every palette entry grey, in whatever order: such an image is a grey one.
int HasGreyPalette(FIBITMAP *bitmap);

// The loaded bitmap as the edits and every writer take it.
FIBITMAP *FormAfterLoad(FIBITMAP *bitmap, ImageFormat format);

// The bitmap as the writer of format takes it.
FIBITMAP *FormForSaving(FIBITMAP *bitmap, ImageFormat format);

// FreeImage_Rotate, FreeImage_FlipHorizontal (in place, the library's
// success flag) and FreeImage_Rescale with the filter given, for every form
// a load gives.
FIBITMAP *RotateInForm(FIBITMAP *bitmap, double angle);
int FlipHorizontalInForm(FIBITMAP *bitmap);
FIBITMAP *RescaleInForm(FIBITMAP *bitmap, int width, int height,
                        ResizeFilter filter);

#endif
