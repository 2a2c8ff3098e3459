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

// The identifier of the running process.
unsigned long PlatformProcessId(void);

// Creates one folder (POSIX: 0777 less the umask). 0 on success, else -1.
int PlatformMakeFolder(const char *path);

// Opens path for reading in text mode. NULL when it cannot be opened or is a
// folder. Never waits for a writer, even when path names a FIFO.
FILE *PlatformOpenForReading(const char *path);

// Enumerating the entries of one folder that match a name pattern, given as
// the folder and the pattern joined into one path ("photos/*.jpg"). Letter
// case does not matter; "*" matches any run of characters, "?" any one, and a
// pattern ending in ".*" also matches names without a full stop, so "*.*"
// matches every name. "." and ".." are delivered like other entries.
enum { kFolderEntryNameSize = 260 };
struct FolderEntry {
  char name[kFolderEntryNameSize];  // bare name, no folder part
  int is_folder;                    // a link counts as what it points to
};
struct FolderSearch;  // the system's enumeration state
// The first matching entry into entry, or NULL when there is none (also for
// a missing folder). A non-NULL search must be ended with PlatformFindClose.
FolderSearch *PlatformFindFirst(const char *search_path, FolderEntry *entry);
// The next matching entry into entry: 1, or 0 when there are no more.
int PlatformFindNext(FolderSearch *search, FolderEntry *entry);
void PlatformFindClose(FolderSearch *search);

// Starts file with the parameters (NULL for none) and waits for it to end.
// Returns its exit status, or -1 when it could not be started or did not end
// normally. show is the Windows show command; POSIX ignores it.
int PlatformRunAndWait(const char *file, const char *parameters, int show);

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
