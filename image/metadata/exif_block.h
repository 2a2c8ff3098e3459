// A photo's EXIF block, read and mended by the program's own bounded reader.
//
// A plain save keeps the block as it is, maker note and thumbnail too. After
// an edit that changes the picture (a crop, turn, flip, resize or upright
// turn) the block keeps only what the program understands and has made true:
// it is written anew from one table of tags (exif_block.cpp, kTagRules), one
// row per tag with what the edit does: kept (who, when, with what, where:
// the camera's settings, the dates, the GPS directory, copyright), mended
// to the new size (ImageWidth/ImageLength, PixelX/YDimension, the Interop
// directory's RelatedImageWidth/Length), or left out: every tag the table
// doesn't name. Left out so are the thumbnail (IFD1), SubjectArea and
// SubjectLocation (positions in the old frame), and the maker note with all
// it points at: a maker note is opaque, and can hold a preview of the whole
// frame, focus points and crop positions, so it can't be made true and a
// crop would let out the part cut away.
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
  int64_t width, height;  // the new size (PixelX/YDimension; with
                          // picture_changed every size tag); 0: keep
  int drop_thumbnail;     // remove IFD1 and the thumbnail it points at
  int upright;            // set Orientation to 1
  int picture_changed;    // keep only the tags the table keeps or mends
};

// A copy of the block with the changes made; with picture_changed, written
// anew from the table, its thumbnail left out. A dropped thumbnail's bytes
// and its directory do not remain in the copy. NULL when the block can't be
// read
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
