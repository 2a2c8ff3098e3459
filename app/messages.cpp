#include "app/messages.h"

#include <stdio.h>
#include <stdlib.h>

#include "app/process.h"
#include "lib/strings.h"
#include "platform/platform.h"

const char UsageText[] =
    "Usage:\n"
    "Orvane [opt(s)] filename.jpg\n"
    "\n"
    "opt(s):\n"
    "[-c x y w h] crop to the w x h rectangle at column x, row y\n"
    "[-r angle] rotate counter-clockwise by angle degrees\n"
    "[-fh] flip horizontally\n"
    "[-fv] flip vertically\n"
    "[-o file] save to file, or to a folder (one there, or ending in /)\n"
    "          under the photo's own name; without -o the photo itself is\n"
    "          replaced\n"
    "[-oq num] set output quality (default 100): 1 to 100 for every format;\n"
    "          for JPEG plus 8192 progressive, 131072 optimised, 262144\n"
    "          baseline, or one chroma subsampling: 4096 4:1:1, 16384 4:2:0,\n"
    "          32768 4:2:2, 65536 4:4:4; PNG is lossless, its compression\n"
    "          level num mod 16 when that is 1 to 9, else 6 (100 gives 4);\n"
    "          it takes 0 too, 256 (none), and 512 added (interlaced); BMP\n"
    "          takes 0 too and is never compressed\n"
    "[-w width] resize to width pixels\n"
    "[-h height] resize to height pixels\n"
    "[-wh width height] resize to width x height pixels\n"
    "[-filter name] the filter of the resizes after it: Lanczos (sharp),\n"
    "          Catrom, Mitchell, Triangle, Box or Spline (soft, the default)\n"
    "[-upright] turn the photo as its EXIF orientation says\n"
    "[-strip] leave out EXIF but the orientation, IPTC and XMP; keep the\n"
    "         colour profile\n"
    "[-lossless] turn, flip and crop a JPEG without re-encoding it\n"
    "\n"
    "The file ends in .jpg, .jpeg, .png or .bmp and comes last; the options "
    "act in the order given.\n"
    "Orvane replaces the photo unless -o is given.\n"
    "Orvane -? shows this text, Orvane -help the help page, Orvane -ver the "
    "version.\n"
    "\n"
    "This software uses the FreeImage open source image library. "
    "See https://freeimage.sourceforge.io for details.\n"
    "FreeImage is used under the FIPL, version 1.0.\n";

static const char kProductPage[] = "https://www.tabrinel.com/orvane/";
static const char kMakerPage[] = "https://www.tabrinel.com/";

int ShowUsage(void) { return InfoBox(UsageText); }

int ShowUsageForMistake(const char *mistake) {
  char *text = Concat3(mistake, "\n\n", UsageText);
  int answer = WarningBox(text);
  free(text);
  return answer;
}

int ShowValueMistake(const char *mistake) {
  char *text = Concat2(
      mistake, "\nOrvane -? shows every option and the values it takes.");
  int answer = WarningBox(text);
  free(text);
  return answer;
}

int ShowVersion(void) {
  char buffer[300];
  snprintf(buffer, sizeof buffer,
           "Copyright (c) 2015-2026 Tabrinel. All rights reserved."
           "\n\nBuild date:\t%s\nBuild time:\t%s\n",
           BuildDate, BuildTime);
  return InfoBox(buffer);
}

const char *LocalHelpPage(void) {
  static const char *page;
  if (page == NULL) page = KeepForRun(Concat2(ProgramFolder, "/Help/index.html"));
  return page;
}

int OpenPage(int kind) {
  const char *page = kMakerPage;
  if (kind == kPageProduct) page = kProductPage;
  if (kind == kPageLocalHelp) page = LocalHelpPage();
  return PlatformOpenDocument(page);
}
