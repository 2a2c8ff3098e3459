// The operating-system services the rest of the program uses, in neutral types.
// One implementation per system (posix.cpp, win32.cpp), chosen by the build.
//
// Ownership: routines that return char * hand over a new heap text (free it);
// routines that return const char * lend text the platform keeps for the whole run.
#ifndef ORVANE_PLATFORM_PLATFORM_H
#define ORVANE_PLATFORM_PLATFORM_H

#include <stdio.h>

// The separator that path joins put between a folder and a name.
extern const char kPathSeparator;

// Message-box styles and the answer of a box, as the Windows API numbers them.
enum { kBoxInformation = 0x00, kBoxWarning = 0x30 };
enum { kBoxAnswerOk = 1 };

// Hands the C runtime's arguments to the layer. POSIX rebuilds the raw command
// line from them; Windows ignores them and asks the system.
void PlatformSetArguments(int argc, char **argv);

// The raw command line, program path included, exactly as the system gives it.
const char *PlatformCommandLine(void);

// Writes the program file's full path into buffer. Returns its length; 0 on
// failure, and capacity when the path filled the buffer and may be cut short.
int PlatformProgramPath(char *buffer, int capacity);

// Shows a modal box (POSIX: writes to the terminal). Returns the button pressed.
int PlatformMessageBox(const char *text, const char *caption, int style);

// Asks the shell to open file with its associated program, without waiting.
// Returns a value above 32 when the request was handed over.
long PlatformShellOpen(const char *operation, const char *file,
                       const char *parameters, const char *directory,
                       int show);

// The root of the per-user data folders, or NULL when the environment names
// none. New heap text.
char *PlatformUserDataRoot(void);

// The user's temporary folder; never NULL.
const char *PlatformTempFolder(void);

// Opens path for appending text lines, creating it when missing. NULL when it
// cannot be opened or is not a plain file of this user's (a link, a device).
FILE *PlatformOpenLogFile(const char *path);

// Saving without ever leaving a damaged file behind: the new contents go to
// a fresh file beside the target, which then replaces the target in one step.
struct SafeSave {
  char *target;  // the file to replace (a symbolic link is followed)
  char *temp;    // the fresh file the caller fills
};

// Creates the fresh, empty temporary file. Returns 1, or 0 (nothing created).
int PlatformBeginSafeSave(const char *path, SafeSave *save);

// Flushes the temporary file to disk and moves it over the target, keeping
// the target's permission bits. Returns 1, or 0 with the temporary file
// removed and the target untouched. Either way the record is released.
int PlatformFinishSafeSave(SafeSave *save);

// Removes the temporary file and releases the record.
void PlatformAbandonSafeSave(SafeSave *save);

#endif
