// A photo's EXIF block, read and mended by the program's own bounded reader:
// after an edit that changes the picture's geometry the block must not keep
// the camera's thumbnail of the old picture, nor its old size, nor an
// orientation that no longer holds.
//
// The block is the payload of a JPEG's APP1 segment as the metadata record
// keeps it (a PNG's eXIf behind the same signature): "Exif\0\0" and then the
// TIFF structure. Every routine reads only inside [block, block + size),
// whatever offsets the block claims.
//
// Ownership: EditExifBlock, Ifd0ExifBlock and OrientationOnlyExifBlock
// return a new heap block (free it); none takes or keeps what it is given.
#ifndef ORVANE_IMAGE_METADATA_EXIF_BLOCK_H
#define ORVANE_IMAGE_METADATA_EXIF_BLOCK_H

#include <stddef.h>
#include <stdint.h>

// The Orientation tag of IFD0, stored as any integer type: 1 to 8, or 0
// when IFD0 has none or can't be read. The rest of the block need not be
// readable.
int ExifOrientation(const unsigned char *block, size_t size);

// 1 when every directory, value and picture of the block lies inside it
// and can be followed safely; 0 otherwise.
int ExifBlockReadable(const unsigned char *block, size_t size);

struct ExifChanges {
  int64_t width, height;  // new PixelXDimension and PixelYDimension; 0: keep
  int drop_thumbnail;     // remove IFD1 and the thumbnail it points at
  int upright;            // set Orientation to 1
};

// A copy of the block with the changes made. The thumbnail's bytes and its
// directory do not remain in the copy. NULL when the block can't be read
// safely: the caller then leaves the EXIF out rather than keep stale data.
unsigned char *EditExifBlock(const unsigned char *block, size_t size,
                             const ExifChanges *changes, size_t *new_size);

// A block of IFD0's plain tags alone, each once as IFD0 holds it (the
// description, make, model, software, date, artist, copyright, resolution,
// orientation and colour description), in the block's byte order: for a
// block that can't go whole. No other directory, no thumbnail, no tag that
// points into the block. NULL when IFD0 can't be read or holds none of them.
unsigned char *Ifd0ExifBlock(const unsigned char *block, size_t size,
                             size_t *new_size);

// The least block that still tells viewers how to show the picture, for a
// photo whose other EXIF is left out: IFD0 with the Orientation (2 to 8) and
// the tags readers require beside it (the resolution, in dots per inch; 0
// gives 72). New heap block of *size bytes; NULL for 1 or no orientation.
unsigned char *OrientationOnlyExifBlock(int orientation, uint32_t dpi_x,
                                        uint32_t dpi_y, size_t *size);

#endif
