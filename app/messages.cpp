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
    "[-r angle] rotate by angle degrees\n"
    "[-fh] flip horizontally\n"
    "[-fv] flip vertically\n"
    "[-o file] set output to file\n"
    "[-oq num] set output quality (default 100)\n"
    "[-w width] resize to width pixels\n"
    "[-h height] resize to height pixels\n"
    "[-wh width height] resize to width x height pixels\n"
    "[-upright] turn the photo as its EXIF orientation says\n"
    "[-strip] leave out EXIF, IPTC and XMP; keep the colour profile\n"
    "[-lossless] turn, flip and crop a JPEG without re-encoding it\n"
    "\n"
    "The file ends in .jpg, .jpeg, .png or .bmp; the options act in the "
    "order given.\n"
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
