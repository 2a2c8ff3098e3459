// Images of the project's own making, for the sample photo and the tests.
// Returned bitmaps belong to the caller (FreeImage_Unload).
#ifndef ORVANE_TOOLS_TEST_IMAGES_H
#define ORVANE_TOOLS_TEST_IMAGES_H

struct FIBITMAP;

// A landscape-like picture: sky gradient, sun, hills and a grid of posts, so
// that turns, flips and crops are easy to see. bpp is 8, 24 or 32.
FIBITMAP *MakeSceneImage(int width, int height, int bpp);

// Makes the scene and saves it in the format its extension names (JPEG at
// quality 90). Returns 1 on success.
int WriteSceneImage(const char *path, int width, int height, int bpp);

#endif
