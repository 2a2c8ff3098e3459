// Writes the sample photo that the README's first command works on.
#include <stdio.h>

#include "tools/test_images.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_sample OUTPUT.jpg\n");
    return 1;
  }
  if (!WriteSceneImage(argv[1], 1200, 800, 24)) {
    fprintf(stderr, "make_sample: can't write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
