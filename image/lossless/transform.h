// Lossless JPEG edits: a chain of quarter turns, flips and crops done on
// the photo's coded blocks in one transform (blocks.h), never decoding its
// pixels; the photo's metadata settled by the same rule a re-encoding
// follows and placed into the result, which is saved as safely as any
// other.
//
// Ownership: ReadLosslessSource gives the record the file's bytes (mapped)
// and its metadata, which ReleaseLosslessSource frees; SaveLosslessly lets
// go of the bytes once they are transformed, before the save replaces the
// file. Nothing else is kept.
#ifndef ORVANE_IMAGE_LOSSLESS_TRANSFORM_H
#define ORVANE_IMAGE_LOSSLESS_TRANSFORM_H

#include <stddef.h>
#include <stdint.h>

#include "image/imagefile.h"
#include "image/lossless/blocks.h"
#include "image/lossless/chain.h"
#include "image/metadata/record.h"
#include "platform/platform.h"

struct LosslessSource {
  MappedFile file;            // the whole file; empty once transformed
  const unsigned char *data;  // its bytes, as file holds them
  CodedFrame *frame;          // its header as libjpeg read it; NULL once
                              // transformed
  size_t size;
  ImageFormat format;  // by content; only a JPEG can be transformed
  int width, height;
  int block_width, block_height;  // the coded blocks (MCUs), in pixels
  int orientation;  // the EXIF Orientation, 1 to 8; 0: none
  uint64_t cost;    // what the transform takes at its peak, the file's
                    // bytes included; 0 for a PNG or BMP
  PhotoMetadata metadata;
};

// Reads the file at path once and judges its headers as a load does, then
// has libjpeg read its header once for its size, sampling and blocks;
// nothing is decoded. 1, or 0 with *failure filled in as LoadImageByName
// fills it, also when libjpeg can't read the header, reads another frame
// than the walk that judged the file, or the transform would need more
// memory than is free. A
// PNG or BMP is read (1) with its format, for the caller to refuse.
int ReadLosslessSource(const char *path, LosslessSource *source,
                       LoadFailure *failure);

void ReleaseLosslessSource(LosslessSource *source);

// What becomes of the metadata besides the geometry.
struct LosslessMarkers {
  int upright;  // -upright was given (MetadataChangesFor judges it)
  int strip;    // leave out EXIF, IPTC and XMP; keep the ICC profile
};

// Transforms the JPEG as the plan says (its fit must be kFitExact) and
// saves the result to path with the photo's metadata settled as
// SettleMetadata says; the file's bytes are let go of before the save.
// 1, or 0 with failure->reason saying why.
int SaveLosslessly(LosslessSource *source, const LosslessPlan *plan,
                   const LosslessMarkers *markers, const char *path,
                   SaveFailure *failure);

#endif
