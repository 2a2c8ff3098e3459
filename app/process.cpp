#include "app/process.h"

const char *const ProgramName = "Orvane";
const char *const MakerName = "Tabrinel";
char VersionText[16];
const char *const BuildDate = __DATE__;
const char *const BuildTime = __TIME__;
char *ProgramFolder;
char *UserDataPath;
int DebugLevel;
