// Process-wide values of the running program: set once at start-up, read by
// everyone afterwards. None of them is ever released. The program's name and
// version are in lib/identity.h.
#ifndef ORVANE_APP_PROCESS_H
#define ORVANE_APP_PROCESS_H

#include "lib/identity.h"

extern char *ProgramFolder;  // the folder of the program file
extern char *UserDataPath;   // the per-user data folder; NULL when unknown
extern int DebugLevel;       // from -dbg=, 0 by default

#endif
