// Loading BMP files, including forms the image library refuses as they stand:
// it is shown the same file with a header it reads.
//
// Ownership: LoadBmpFile returns a new bitmap that the caller releases with
// ReleaseImage, or NULL when the library refuses the file.
#ifndef ORVANE_IMAGE_BMP_LOAD_H
#define ORVANE_IMAGE_BMP_LOAD_H

struct FIBITMAP;

FIBITMAP *LoadBmpFile(const char *path);

#endif
