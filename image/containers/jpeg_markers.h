// The one walk over a JPEG's markers, as the JPEG library walks them: what
// the frame header claims, and what every scan codes in how many bytes, for
// the check before loading and for the cost of loading; and the segments
// themselves, for the parts that read or rewrite the others.
//
// Ownership: nothing is allocated; the records hold numbers and borrow the
// caller's bytes.
#ifndef ORVANE_IMAGE_CONTAINERS_JPEG_MARKERS_H
#define ORVANE_IMAGE_CONTAINERS_JPEG_MARKERS_H

#include <stddef.h>
#include <stdint.h>

struct JpegFrame {
  int marker;  // SOF0 to SOF15
  int64_t width, height;
  int components;
  int64_t blocks;         // 8 x 8 blocks of all components
  int64_t stored_blocks;  // as the decoder stores them: whole MCUs
  int scan_components;    // of the first scan; 0: no scan follows
  int64_t scan_blocks;    // the blocks the first scan codes
  size_t data_start;      // behind the first scan's header
  int scans;              // every scan before EOI or the end of the bytes
  int late_markers;       // APPn and COM segments behind the first scan
  // The blocks of every scan, summed: the decoder walks each block a scan
  // codes, whatever its bytes hold.
  int64_t scanned_blocks;
  // The first component that no scan codes in bytes that could hold a bit
  // for each block the scan codes, and its blocks; -1: every one is.
  int uncoded_component;
  int64_t uncoded_blocks;
};

// 1 with frame filled in when a frame header comes before the first scan;
// 0 when none can be read.
int ReadJpegFrame(const unsigned char *data, size_t size, JpegFrame *frame);

// A segment that carries a length: its marker's 0xFF at start, its payload
// from body to end, where the next one may begin.
struct JpegSegment {
  int marker;
  size_t start, body, end;
};

struct JpegWalk {
  const unsigned char *data;
  size_t size, at;
  size_t marker_at;  // the last marker read, or size: where coded data ends
  int cut_marker;    // the marker of a segment the bytes end inside, which
                     // stopped the walk; 0 when none did
};

// 0 when the bytes don't begin with SOI.
int StartJpegWalk(JpegWalk *walk, const unsigned char *data, size_t size);

// The next segment, scan headers (SOS) among them; behind one, coded data
// follows, which the next call skips as the decoder does (stray bytes and
// restart markers). 0 at the end of the bytes, at EOI, or where a length
// runs past the end.
int NextJpegSegment(JpegWalk *walk, JpegSegment *segment);

// APPn or COM: segments that carry what the picture is about, not how it
// decodes (but JFIF's and Adobe's).
int JpegAppOrComment(int marker);

// Huffman-coded: baseline, extended or progressive (SOF0, SOF1, SOF2).
int JpegHuffmanCoded(const JpegFrame *frame);

// Progressive, Huffman or arithmetic-coded.
int JpegProgressive(const JpegFrame *frame);

// Whether the decoder keeps every coefficient of the picture before it
// shows any: progressive frames, and frames whose first scan holds only
// some of the components.
int JpegBuffersWholePicture(const JpegFrame *frame);

#endif
