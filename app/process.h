// Process-wide values: set once at start-up, read by everyone afterwards.
// None of them is ever released.
#ifndef ORVANE_APP_PROCESS_H
#define ORVANE_APP_PROCESS_H

extern const char *const ProgramName;  // "Orvane"
extern const char *const MakerName;    // "Tabrinel"
extern char VersionText[16];           // "1.12" once start-up has run
extern const char *const BuildDate;    // "Jul 23 2017"
extern const char *const BuildTime;    // "09:27:18"
extern char *ProgramFolder;            // the folder of the program file
extern char *UserDataPath;             // the per-user data folder
extern int DebugLevel;                 // from -dbg=, 0 by default

enum { kVersionMajor = 1, kVersionMinor = 12 };

#endif
