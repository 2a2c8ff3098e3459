// The program's own texts: the usage text, the version message and the
// pages it opens. Boxes, the caption and the fatal path are in lib/report.h.
#ifndef ORVANE_APP_MESSAGES_H
#define ORVANE_APP_MESSAGES_H

#include "lib/report.h"

extern const char UsageText[];

enum { kPageProduct = 1, kPageLocalHelp = 2, kPageMaker = 3 };

// Each returns the box's answer, as InfoBox does.
int ShowUsage(void);
// The usage as a warning, headed by what was wrong with the command line
// (POSIX: on standard error, since it reports a mistake).
int ShowUsageForMistake(const char *mistake);
// A value refused, where the usage would add nothing but length (a batch
// prints it once a photo): the mistake, then one line saying where the
// usage is.
int ShowValueMistake(const char *mistake);
int ShowVersion(void);

// Hands the page of the given kind to the desktop: 1 when the request was
// handed over, else 0.
int OpenPage(int kind);

// The local help page beside the program. Made once and kept for the rest of
// the run, since the shell may still be reading it.
const char *LocalHelpPage(void);

#endif
