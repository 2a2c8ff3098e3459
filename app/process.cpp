#include "app/process.h"

char *ProgramFolder;
char *UserDataPath;
int DebugLevel;
