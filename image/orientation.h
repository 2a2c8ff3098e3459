// What turns a picture stored in each EXIF orientation upright: one table
// for the re-encode (pixels/upright.cpp) and the lossless chain
// (lossless/chain.cpp), so both lay every orientation down the same way.
//
// Ownership: a pointer into a constant table; nothing is allocated.
#ifndef ORVANE_IMAGE_ORIENTATION_H
#define ORVANE_IMAGE_ORIENTATION_H

// Counter-clockwise quarter turns (0 to 3), then the flips. 5 and 7 are
// stored mirrored across a diagonal: a turn and a flip top to bottom.
struct UprightWay {
  int quarter_turns;
  int flip_horizontal, flip_vertical;
};

// The way for an orientation 1 to 8; any other value, as 1: as stored.
const UprightWay *WayUpright(int orientation);

#endif
