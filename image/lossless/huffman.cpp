#include "image/lossless/huffman.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>

#include <jerror.h>
#include <jpeglib.h>

// libjpeg ends a failed call through error_exit; this one jumps back to
// the coder's start instead of ending the process, and counts warnings
// instead of printing them, where starting the encoder can't reset them.
struct QuietErrors {
  struct jpeg_error_mgr manager;
  jmp_buf stop;
  int warnings;
};

static void StopCoding(j_common_ptr codec) {
  longjmp(((QuietErrors *)codec->err)->stop, 1);
}

static void CountWarning(j_common_ptr codec, int level) {
  if (level < 0) ((QuietErrors *)codec->err)->warnings++;
}

static void MakeQuiet(QuietErrors *errors) {
  jpeg_std_error(&errors->manager);
  errors->manager.error_exit = StopCoding;
  errors->manager.emit_message = CountWarning;
  errors->warnings = 0;
}

// Every object whose life crosses the jump is a plain record or a pointer
// whose address libjpeg holds, so nothing is skipped that would need
// tearing down, and the buffer it last grew is the one freed.
unsigned char *WithOptimisedTables(const unsigned char *data, size_t size,
                                   size_t *new_size) {
  struct jpeg_decompress_struct source;
  struct jpeg_compress_struct result;
  QuietErrors errors;  // the decoder's and the encoder's
  unsigned char *output = NULL;
  unsigned long output_size = 0;
  MakeQuiet(&errors);
  source.err = result.err = &errors.manager;
  jpeg_create_decompress(&source);
  jpeg_create_compress(&result);
  if (setjmp(errors.stop) != 0) {
    jpeg_destroy_compress(&result);
    jpeg_destroy_decompress(&source);
    free(output);
    return NULL;
  }
  jpeg_mem_src(&source, data, (unsigned long)size);
  jpeg_read_header(&source, TRUE);
  jvirt_barray_ptr *blocks = jpeg_read_coefficients(&source);
  jpeg_copy_critical_parameters(&source, &result);
  result.optimize_coding = TRUE;
  jpeg_mem_dest(&result, &output, &output_size);
  jpeg_write_coefficients(&result, blocks);
  jpeg_finish_compress(&result);
  jpeg_finish_decompress(&source);
  int warned = errors.warnings != 0;
  jpeg_destroy_compress(&result);
  jpeg_destroy_decompress(&source);
  if (warned) {
    free(output);
    return NULL;
  }
  *new_size = output_size;
  return output;
}
