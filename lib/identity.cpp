#include "lib/identity.h"

#include "orvane_version.h"

const char *const ProgramName = ORVANE_PROGRAM_NAME;
const char *const MakerName = "Tabrinel";
char VersionText[16] = ORVANE_VERSION_TEXT;
const char *const BuildDate = __DATE__;
const char *const BuildTime = __TIME__;
