#include "image/lossless/blocks.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <jerror.h>
#include <jpeglib.h>

#include "image/imagefile.h"

// libjpeg ends a failed call through error_exit; this one keeps its words
// and jumps back to the start instead of ending the process. Warnings are
// not printed: the decoder goes on, as a load does.
struct Stop {
  struct jpeg_error_mgr manager;
  struct jpeg_progress_mgr progress;
  jmp_buf back;
  char said[JMSG_LENGTH_MAX];
};

static void StopCoding(j_common_ptr codec) {
  Stop *stop = (Stop *)codec->err;
  stop->manager.format_message(codec, stop->said);
  longjmp(stop->back, 1);
}

static void KeepQuiet(j_common_ptr, int) {}

// Thousands of tiny scans take minutes to decode: TurboJPEG refuses a
// photo of more than 500, and so does this.
static void LimitScans(j_common_ptr codec) {
  const int kMostScans = 500;
  if (((j_decompress_ptr)codec)->input_scan_number <= kMostScans) return;
  Stop *stop = (Stop *)codec->err;
  snprintf(stop->said, sizeof stop->said,
           "Progressive JPEG image has more than %d scans", kMostScans);
  longjmp(stop->back, 1);
}

// The result in one heap buffer grown by realloc, which stays ours to free
// whenever the encoder stops (libjpeg's jpeg_mem_dest loses track of it).
struct GrowingOutput {
  struct jpeg_destination_mgr manager;
  unsigned char *data;
  size_t allocated;
};

static void StartOutput(j_compress_ptr codec) {
  GrowingOutput *out = (GrowingOutput *)codec->dest;
  out->manager.next_output_byte = out->data;
  out->manager.free_in_buffer = out->allocated;
}

static boolean GrowOutput(j_compress_ptr codec) {
  GrowingOutput *out = (GrowingOutput *)codec->dest;
  size_t grown = out->allocated * 2;
  unsigned char *larger = (unsigned char *)realloc(out->data, grown);
  if (larger == NULL) ERREXIT1(codec, JERR_OUT_OF_MEMORY, 10);
  out->data = larger;
  out->manager.next_output_byte = larger + out->allocated;
  out->manager.free_in_buffer = grown - out->allocated;
  out->allocated = grown;
  return TRUE;
}

static void EndOutput(j_compress_ptr) {}

// The result is about the photo's size: room for that and a little more
// grows once at most.
static void StartGrowingOutput(GrowingOutput *out, size_t expected) {
  out->manager.init_destination = StartOutput;
  out->manager.empty_output_buffer = GrowOutput;
  out->manager.term_destination = EndOutput;
  out->allocated = expected + expected / 8 + 4096;
  out->data = (unsigned char *)malloc(out->allocated);
}

// Where one component's blocks of the result come from, in blocks of that
// component: the result's own (and the rows of its last whole MCUs), the
// region's start in the laid-down picture, and that picture's size, across
// which a mirror reflects (a whole number of MCUs wherever it mirrors).
struct ComponentMove {
  JDIMENSION width, height, padded_width, padded_height;
  JDIMENSION offset_x, offset_y;
  JDIMENSION laid_width, laid_height;
  JDIMENSION rows_at_once;  // whole MCU rows of blocks, moved together
};

// Transposed, each row of the photo's blocks gives a run of this many MCU
// rows' blocks at once: a few kilobytes, read while they are in the cache.
enum { kMcuRowsAtOnce = 4 };

static JDIMENSION RoundUp(int64_t a, int64_t b) {
  return (JDIMENSION)((a + b - 1) / b);
}

// The blocks of a component as the decoder stores them: whole MCUs.
static JDIMENSION StoredAcross(const jpeg_component_info *c) {
  return RoundUp(c->width_in_blocks, c->h_samp_factor) * c->h_samp_factor;
}
static JDIMENSION StoredDown(const jpeg_component_info *c) {
  return RoundUp(c->height_in_blocks, c->v_samp_factor) * c->v_samp_factor;
}

// A component's sampling in the result: the photo's, swapped by a
// transpose; a single component's is 1 x 1, as jpegtran writes it.
static void ResultFactors(const jpeg_decompress_struct *source, int ci,
                          int transpose, int *h, int *v) {
  const jpeg_component_info *c = &source->comp_info[ci];
  *h = source->num_components == 1 ? 1
       : transpose                 ? c->v_samp_factor
                                   : c->h_samp_factor;
  *v = source->num_components == 1 ? 1
       : transpose                 ? c->h_samp_factor
                                   : c->v_samp_factor;
}

// The plan's numbers in each component's blocks: a block of a component
// sampled h times across an MCU spans mcu_width / h pixels.
static void PlanComponents(const jpeg_decompress_struct *source,
                           const LosslessPlan *plan, ComponentMove *moves) {
  int transpose = plan->lay.transpose, max_h = 1, max_v = 1;
  for (int ci = 0; ci < source->num_components; ci++) {
    int h, v;
    ResultFactors(source, ci, transpose, &h, &v);
    if (h > max_h) max_h = h;
    if (v > max_v) max_v = v;
  }
  int64_t mcu_width = DCTSIZE * max_h, mcu_height = DCTSIZE * max_v;
  int64_t laid_width = transpose ? plan->whole_height : plan->whole_width;
  int64_t laid_height = transpose ? plan->whole_width : plan->whole_height;
  for (int ci = 0; ci < source->num_components; ci++) {
    int h, v;
    ResultFactors(source, ci, transpose, &h, &v);
    ComponentMove *m = &moves[ci];
    m->width = RoundUp(plan->width * h, mcu_width);
    m->height = RoundUp(plan->height * v, mcu_height);
    m->padded_width = RoundUp(plan->width, mcu_width) * h;
    m->padded_height = RoundUp(plan->height, mcu_height) * v;
    m->offset_x = (JDIMENSION)(plan->region.x * h / mcu_width);
    m->offset_y = (JDIMENSION)(plan->region.y * v / mcu_height);
    m->laid_width = (JDIMENSION)(laid_width * h / mcu_width);
    m->laid_height = (JDIMENSION)(laid_height * v / mcu_height);
    m->rows_at_once = (JDIMENSION)(v * kMcuRowsAtOnce);
  }
}

// Whether count blocks from offset, read mirrored across laid when mirror
// is set, lie inside the extent of the photo's blocks.
static int RunInside(uint64_t offset, uint64_t count, uint64_t laid,
                     int mirror, uint64_t extent) {
  uint64_t end = offset + count;
  return mirror ? end <= laid && laid <= extent : end <= extent;
}

// Every block the moves read lies in the photo's arrays, the rows and
// columns a transpose swaps included: checked once, before any is read,
// so that no index below needs a bound of its own.
static int MovesInside(const jpeg_decompress_struct *source,
                       const LosslessPlan *plan, const ComponentMove *moves) {
  LayDown lay = plan->lay;
  for (int ci = 0; ci < source->num_components; ci++) {
    const ComponentMove *m = &moves[ci];
    uint64_t across = StoredAcross(&source->comp_info[ci]);
    uint64_t down = StoredDown(&source->comp_info[ci]);
    if (!RunInside(m->offset_x, m->width, m->laid_width, lay.mirror_x,
                   lay.transpose ? down : across) ||
        !RunInside(m->offset_y, m->height, m->laid_height, lay.mirror_y,
                   lay.transpose ? across : down))
      return 0;
  }
  return 1;
}

// A mirror negates the odd frequencies along its axis.
static void MirrorSigns(LayDown lay, JCOEF *sign) {
  for (int row = 0; row < DCTSIZE; row++)
    for (int column = 0; column < DCTSIZE; column++) {
      int negated = (lay.mirror_x && column % 2) ^ (lay.mirror_y && row % 2);
      sign[row * DCTSIZE + column] = negated ? -1 : 1;
    }
}

// One block laid down: across the diagonal for a transpose, then mirrored.
static void MoveBlock(const JCOEF *from, JCOEF *to, LayDown lay,
                      const JCOEF *sign) {
  if (lay.transpose) {
    for (int row = 0; row < DCTSIZE; row++)
      for (int column = 0; column < DCTSIZE; column++)
        to[row * DCTSIZE + column] = from[column * DCTSIZE + row];
  } else {
    memcpy(to, from, sizeof(JBLOCK));
  }
  if (lay.mirror_x || lay.mirror_y)
    for (int k = 0; k < DCTSIZE2; k++) to[k] = (JCOEF)(to[k] * sign[k]);
}

static JBLOCKROW SourceRow(j_decompress_ptr source, jvirt_barray_ptr from,
                           JDIMENSION row) {
  return source->mem->access_virt_barray((j_common_ptr)source, from, row, 1,
                                         FALSE)[0];
}

static JDIMENSION LaidX(const ComponentMove *m, LayDown lay, JDIMENSION x) {
  JDIMENSION laid = m->offset_x + x;
  return lay.mirror_x ? m->laid_width - 1 - laid : laid;
}

static JDIMENSION LaidY(const ComponentMove *m, LayDown lay, JDIMENSION y) {
  JDIMENSION laid = m->offset_y + y;
  return lay.mirror_y ? m->laid_height - 1 - laid : laid;
}

// Rows top to top + count - 1 of the result's blocks of a component. Not
// transposed, a row comes from one row of the photo's; transposed, from a
// column, so the rows are filled together, a run of neighbouring blocks
// read from each of the photo's rows in turn.
static void MoveRows(j_decompress_ptr source, jvirt_barray_ptr from,
                     JBLOCKARRAY to, JDIMENSION top, int count,
                     const ComponentMove *m, LayDown lay, const JCOEF *sign) {
  if (lay.transpose) {
    for (JDIMENSION x = 0; x < m->width; x++) {
      JBLOCKROW column = SourceRow(source, from, LaidX(m, lay, x));
      for (int y = 0; y < count; y++)
        MoveBlock(column[LaidY(m, lay, top + y)], to[y][x], lay, sign);
    }
    return;
  }
  for (int y = 0; y < count; y++) {
    JBLOCKROW row = SourceRow(source, from, LaidY(m, lay, top + y));
    if (!lay.mirror_x && !lay.mirror_y) {
      memcpy(to[y], row + m->offset_x, m->width * sizeof(JBLOCK));
      continue;
    }
    for (JDIMENSION x = 0; x < m->width; x++)
      MoveBlock(row[LaidX(m, lay, x)], to[y][x], lay, sign);
  }
}

// Every row of whole MCUs is written, as the encoder reads them; it codes
// only the blocks inside the picture, which alone are filled.
static void MoveComponent(j_decompress_ptr source, jvirt_barray_ptr from,
                          jvirt_barray_ptr to, const ComponentMove *m,
                          LayDown lay, const JCOEF *sign) {
  for (JDIMENSION top = 0; top < m->padded_height; top += m->rows_at_once) {
    JDIMENSION rows = m->padded_height - top;
    if (rows > m->rows_at_once) rows = m->rows_at_once;
    JBLOCKARRAY blocks = source->mem->access_virt_barray((j_common_ptr)source,
                                                         to, top, rows, TRUE);
    // Every run starts above the last MCU row's padding.
    JDIMENSION filled = m->height - top < rows ? m->height - top : rows;
    MoveRows(source, from, blocks, top, (int)filled, m, lay, sign);
  }
}

// Without a transpose or a mirror top to bottom, each row of the result
// comes from the same row of the photo or one below it, so the photo's
// blocks can be laid down where they are, a row at a time through row,
// as jpegtran flips them: half the memory.
static void MoveComponentInPlace(j_decompress_ptr source,
                                 jvirt_barray_ptr blocks,
                                 const ComponentMove *m, LayDown lay,
                                 const JCOEF *sign) {
  JBLOCKARRAY row = source->mem->alloc_barray((j_common_ptr)source,
                                              JPOOL_IMAGE, m->width, 1);
  for (JDIMENSION y = 0; y < m->height; y++) {
    MoveRows(source, blocks, row, y, 1, m, lay, sign);
    JBLOCKROW to = source->mem->access_virt_barray((j_common_ptr)source,
                                                   blocks, y, 1, TRUE)[0];
    memcpy(to, row[0], m->width * sizeof(JBLOCK));
  }
}

static int MovesInPlace(const LosslessPlan *plan) {
  return !plan->lay.transpose && !plan->lay.mirror_y;
}

// The arrays the result's blocks are laid into, asked of the decoder's
// memory before it reads the photo's, like them; NULL where the photo's
// own serve.
static jvirt_barray_ptr *RequestLaidBlocks(j_decompress_ptr source,
                                           const LosslessPlan *plan,
                                           const ComponentMove *moves) {
  if (!PlanMovesBlocks(plan) || MovesInPlace(plan)) return NULL;
  jvirt_barray_ptr *laid = (jvirt_barray_ptr *)source->mem->alloc_small(
      (j_common_ptr)source, JPOOL_IMAGE,
      sizeof(jvirt_barray_ptr) * source->num_components);
  for (int ci = 0; ci < source->num_components; ci++)
    laid[ci] = source->mem->request_virt_barray(
        (j_common_ptr)source, JPOOL_IMAGE, FALSE, moves[ci].padded_width,
        moves[ci].padded_height, moves[ci].rows_at_once);
  return laid;
}

static void MoveBlocks(j_decompress_ptr source, const LosslessPlan *plan,
                       const ComponentMove *moves, jvirt_barray_ptr *blocks,
                       jvirt_barray_ptr *laid) {
  if (!PlanMovesBlocks(plan)) return;
  JCOEF sign[DCTSIZE2];
  MirrorSigns(plan->lay, sign);
  for (int ci = 0; ci < source->num_components; ci++)
    if (laid != NULL)
      MoveComponent(source, blocks[ci], laid[ci], &moves[ci], plan->lay,
                    sign);
    else
      MoveComponentInPlace(source, blocks[ci], &moves[ci], plan->lay, sign);
}

// The result's frame: the photo's, of the planned size; a transpose swaps
// the quantization tables with the coefficients.
static void SetUpResult(j_decompress_ptr source, j_compress_ptr result,
                        const LosslessPlan *plan, int progressive) {
  jpeg_copy_critical_parameters(source, result);
  result->image_width = (JDIMENSION)plan->width;
  result->image_height = (JDIMENSION)plan->height;
  for (int ci = 0; ci < result->num_components; ci++) {
    jpeg_component_info *c = &result->comp_info[ci];
    ResultFactors(source, ci, plan->lay.transpose, &c->h_samp_factor,
                  &c->v_samp_factor);
  }
  if (plan->lay.transpose) {
    for (int i = 0; i < NUM_QUANT_TBLS; i++) {
      JQUANT_TBL *table = result->quant_tbl_ptrs[i];
      if (table == NULL) continue;
      for (int row = 0; row < DCTSIZE; row++)
        for (int column = row + 1; column < DCTSIZE; column++) {
          UINT16 kept = table->quantval[row * DCTSIZE + column];
          table->quantval[row * DCTSIZE + column] =
              table->quantval[column * DCTSIZE + row];
          table->quantval[column * DCTSIZE + row] = kept;
        }
    }
  }
  result->optimize_coding = TRUE;
  if (progressive) jpeg_simple_progression(result);
}

// Everything libjpeg changes while it works, and the handler reads after
// it jumps back: on the heap, behind a pointer set before the jump point
// and never changed after it. A local changed between setjmp and longjmp
// would be indeterminate once the jump lands, even one whose address
// libjpeg holds (the buffer GrowOutput moves, the codecs' own state).
struct CodedFrame {
  struct jpeg_decompress_struct source;
  struct jpeg_compress_struct result;
  Stop stop;
  GrowingOutput output;
  size_t size;  // the photo's, which the output is about
};

// Whether every component's sampling factors divide the largest, as a
// decoder needs them to show the picture; then the factors along an axis
// are 1, 2 or 4 (or 1 and 3), each dividing the next, and a block of the
// sparsest spans the grid on which every component's blocks move whole.
static int ReadGrid(const jpeg_decompress_struct *source,
                    CodedFrameView *view) {
  int fewest_h = source->max_h_samp_factor;
  int fewest_v = source->max_v_samp_factor;
  for (int ci = 0; ci < source->num_components; ci++) {
    const jpeg_component_info *c = &source->comp_info[ci];
    if (source->max_h_samp_factor % c->h_samp_factor != 0 ||
        source->max_v_samp_factor % c->v_samp_factor != 0)
      return 0;
    if (c->h_samp_factor < fewest_h) fewest_h = c->h_samp_factor;
    if (c->v_samp_factor < fewest_v) fewest_v = c->v_samp_factor;
  }
  int one = source->num_components == 1;
  view->block_width = one ? DCTSIZE
                          : DCTSIZE * source->max_h_samp_factor / fewest_h;
  view->block_height = one ? DCTSIZE
                           : DCTSIZE * source->max_v_samp_factor / fewest_v;
  return 1;
}

static void ReadView(const jpeg_decompress_struct *source,
                     CodedFrameView *view) {
  view->width = (int)source->image_width;
  view->height = (int)source->image_height;
  view->components = source->num_components;
  view->stored_blocks = 0;
  for (int ci = 0; ci < source->num_components; ci++)
    view->stored_blocks += (int64_t)StoredAcross(&source->comp_info[ci]) *
                           StoredDown(&source->comp_info[ci]);
}

void CloseCodedFrame(CodedFrame *frame) {
  if (frame == NULL) return;
  jpeg_destroy_compress(&frame->result);
  jpeg_destroy_decompress(&frame->source);
  free(frame->output.data);
  free(frame);
}

// libjpeg's calls that may jump back, in functions whose jump point reads
// nothing when it lands: the caller reads the frame's record, through a
// pointer that was never changed.
static int ReadHeader(CodedFrame *frame, const unsigned char *data,
                      size_t size) {
  if (setjmp(frame->stop.back) != 0) return 0;
  jpeg_create_decompress(&frame->source);
  jpeg_create_compress(&frame->result);
  frame->source.progress = &frame->stop.progress;
  jpeg_mem_src(&frame->source, data, (unsigned long)size);
  jpeg_read_header(&frame->source, TRUE);
  return 1;
}

// Zeroed, so that destroying a codec not yet made does nothing.
CodedFrame *OpenCodedFrame(const unsigned char *data, size_t size,
                           CodedFrameView *view, char *reason) {
  CodedFrame *frame = (CodedFrame *)calloc(1, sizeof(CodedFrame));
  if (frame == NULL) {
    snprintf(reason, kFailureReasonSize, "Out of memory.");
    return NULL;
  }
  jpeg_std_error(&frame->stop.manager);
  frame->stop.manager.error_exit = StopCoding;
  frame->stop.manager.emit_message = KeepQuiet;
  frame->stop.progress.progress_monitor = LimitScans;
  frame->source.err = frame->result.err = &frame->stop.manager;
  frame->size = size;
  if (!ReadHeader(frame, data, size)) {
    snprintf(reason, kFailureReasonSize,
             "The lossless transform could not read it: %.150s.",
             frame->stop.said);
    CloseCodedFrame(frame);
    return NULL;
  }
  int components = frame->source.num_components;
  if ((components == 1 || components == 3 || components == 4) &&
      ReadGrid(&frame->source, view)) {
    ReadView(&frame->source, view);
    return frame;
  }
  snprintf(reason, kFailureReasonSize,
           "The lossless transform could not read it: its %d components are "
           "sampled in a way no decoder shows.",
           components);
  CloseCodedFrame(frame);
  return NULL;
}

// The result's blocks are held by the decoder's memory, like the photo's,
// and asked for before it reads them. Every object whose life crosses the
// jump is in the frame's record, so nothing is skipped that would need
// tearing down, and the buffer last grown is the one freed.
static int Transform(CodedFrame *frame, const LosslessPlan *plan,
                     const ComponentMove *moves) {
  if (setjmp(frame->stop.back) != 0) return 0;
  j_decompress_ptr source = &frame->source;
  j_compress_ptr result = &frame->result;
  jvirt_barray_ptr *laid = RequestLaidBlocks(source, plan, moves);
  jvirt_barray_ptr *blocks = jpeg_read_coefficients(source);
  SetUpResult(source, result, plan, source->progressive_mode);
  result->dest = &frame->output.manager;
  jpeg_write_coefficients(result, laid != NULL ? laid : blocks);
  MoveBlocks(source, plan, moves, blocks, laid);
  jpeg_finish_compress(result);
  jpeg_finish_decompress(source);
  return 1;
}

unsigned char *TransformedBlocks(CodedFrame *frame, const LosslessPlan *plan,
                                 size_t *new_size, char *reason) {
  ComponentMove moves[MAX_COMPONENTS];
  PlanComponents(&frame->source, plan, moves);
  if (!MovesInside(&frame->source, plan, moves)) {
    snprintf(reason, kFailureReasonSize,
             "The lossless transform failed: the edits reach past the "
             "photo's coded blocks.");
    return NULL;
  }
  StartGrowingOutput(&frame->output, frame->size);
  if (frame->output.data == NULL) {
    snprintf(reason, kFailureReasonSize, "Out of memory.");
    return NULL;
  }
  if (!Transform(frame, plan, moves)) {
    snprintf(reason, kFailureReasonSize,
             "The lossless transform failed: %.160s.", frame->stop.said);
    return NULL;
  }
  *new_size = frame->output.allocated - frame->output.manager.free_in_buffer;
  unsigned char *transformed = frame->output.data;
  frame->output.data = NULL;
  return transformed;
}
