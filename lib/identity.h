// Who the program is: fixed when it is built, read by every layer above (the
// caption of every box, the log's name, the per-user folder).
#ifndef ORVANE_LIB_IDENTITY_H
#define ORVANE_LIB_IDENTITY_H

extern const char *const ProgramName;  // "Orvane"
extern const char *const MakerName;    // "Tabrinel"
// "1.12": major and minor, the minor in two digits. Writable only so that a
// test can show that the caption follows it.
extern char VersionText[16];
extern const char *const BuildDate;  // "Jul 23 2017"
extern const char *const BuildTime;  // "09:27:18"

#endif
