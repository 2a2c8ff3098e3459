// The plan of one photo's job, worked out before any pixel is decoded,
// beside the decoder that carries it out: what the decode reads and at what
// fraction of its size, which resize is done on that fraction and with which
// filter, and what the whole job holds at its peak (the file and its
// decode, every edit with the library's own working bitmaps, the writer's
// copies and the metadata) against the user's limit. The caller says what
// was asked; it gets back numbers and a reason, never a message.
//
// Ownership: nothing is kept; everything given is borrowed.
#ifndef ORVANE_IMAGE_LOAD_PLAN_H
#define ORVANE_IMAGE_LOAD_PLAN_H

#include <stdint.h>

#include "image/imagefile.h"

struct PhotoMetadata;

enum PlannedEditKind {
  kPlannedCrop,
  kPlannedTurn,
  kPlannedFlip,
  kPlannedResize,
  kPlannedUpright
};

// One edit as asked, with the size it makes when the photo is decoded
// whole; 0 x 0 when the edit will fail anyway.
struct PlannedEdit {
  PlannedEditKind kind;
  int64_t width, height;
  double angle;          // a turn's, counter-clockwise in degrees
  ResizeFilter filter;   // a resize's
  int orientation;       // -upright's EXIF orientation
};

// Where the job would pass the limit.
enum PlanRefusal {
  kPlanFits = 0,
  kPlanDecodeTooCostly,  // the decode alone
  kPlanEditTooCostly,    // edit refused_edit
  kPlanSaveTooCostly     // the writer's copies of the last picture
};

struct DecodePlan {
  int reduction;     // the decode's sides divided by this (1, 2, 4 or 8)
  int first_resize;  // the edit done on the reduced decode; -1: none
  int64_t resize_width, resize_height;  // its size, worked out whole
  ResizeFilter resize_filter;
  int threads;  // worker threads for the resize (SetImageWorkers)
  DecodeForecast forecast;  // the decode, at its fraction
  uint64_t peak;            // the most the whole job holds at once
  PlanRefusal refusal;
  int refused_edit;         // kPlanEditTooCostly: its index in the edits
  uint64_t refused_bytes;   // what the refused step holds at its peak
};

// The plan for decoding the opened photo and doing the edits on it, then
// writing output_format; limit (UINT64_MAX for none) is what the job may
// hold besides the program itself: its code and the libraries', their
// tables, the codecs' row buffers and zlib's windows, which the documents
// state as a fixed slack (16 MB; 8 MB measured on Linux).
void PlanDecode(const OpenedImage *image, const PhotoMetadata *metadata,
                const PlannedEdit *edits, int count,
                ImageFormat output_format, uint64_t limit, DecodePlan *plan);

// What an edit of a width x height picture of bits a pixel holds at its
// peak besides that picture: the one it makes and the library's working
// bitmaps and tables. *made_bits: the depth of what it makes, at most.
uint64_t EditPeakBytes(const PlannedEdit *edit, int bits, int64_t width,
                       int64_t height, int *made_bits);

#endif
