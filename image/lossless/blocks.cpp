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
struct Coding {
  struct jpeg_decompress_struct source;
  struct jpeg_compress_struct result;
  Stop stop;
  GrowingOutput output;
};

// Zeroed, so that destroying a codec not yet made does nothing; NULL when
// memory runs out.
static Coding *StartCoding(size_t expected) {
  Coding *coding = (Coding *)calloc(1, sizeof(Coding));
  if (coding == NULL) return NULL;
  jpeg_std_error(&coding->stop.manager);
  coding->stop.manager.error_exit = StopCoding;
  coding->stop.manager.emit_message = KeepQuiet;
  coding->stop.progress.progress_monitor = LimitScans;
  coding->source.err = coding->result.err = &coding->stop.manager;
  StartGrowingOutput(&coding->output, expected);
  if (coding->output.data != NULL) return coding;
  free(coding);
  return NULL;
}

// The output's buffer is kept when keep_output is set.
static void EndCoding(Coding *coding, int keep_output) {
  jpeg_destroy_compress(&coding->result);
  jpeg_destroy_decompress(&coding->source);
  if (!keep_output) free(coding->output.data);
  free(coding);
}

// The result's blocks are held by the decoder's memory, like the photo's,
// and asked for before it reads them. Every object whose life crosses the
// jump is in the Coding record, so nothing is skipped that would need
// tearing down, and the buffer last grown is the one freed.
unsigned char *TransformedBlocks(const unsigned char *data, size_t size,
                                 const LosslessPlan *plan, int progressive,
                                 size_t *new_size, char *reason) {
  Coding *const coding = StartCoding(size);
  if (coding == NULL) {
    snprintf(reason, kFailureReasonSize, "Out of memory.");
    return NULL;
  }
  if (setjmp(coding->stop.back) != 0) {
    snprintf(reason, kFailureReasonSize,
             "The lossless transform failed: %.160s.", coding->stop.said);
    EndCoding(coding, 0);
    return NULL;
  }
  j_decompress_ptr source = &coding->source;
  j_compress_ptr result = &coding->result;
  jpeg_create_decompress(source);
  jpeg_create_compress(result);
  source->progress = &coding->stop.progress;
  jpeg_mem_src(source, data, (unsigned long)size);
  jpeg_read_header(source, TRUE);
  ComponentMove moves[MAX_COMPONENTS];
  PlanComponents(source, plan, moves);
  jvirt_barray_ptr *laid = RequestLaidBlocks(source, plan, moves);
  jvirt_barray_ptr *blocks = jpeg_read_coefficients(source);
  SetUpResult(source, result, plan, progressive);
  result->dest = &coding->output.manager;
  jpeg_write_coefficients(result, laid != NULL ? laid : blocks);
  MoveBlocks(source, plan, moves, blocks, laid);
  jpeg_finish_compress(result);
  jpeg_finish_decompress(source);
  *new_size = coding->output.allocated - coding->output.manager.free_in_buffer;
  unsigned char *transformed = coding->output.data;
  EndCoding(coding, 1);
  return transformed;
}
