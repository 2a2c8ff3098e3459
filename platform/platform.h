// The operating-system services the rest of the program uses, in the
// program's own terms. One implementation per system (posix.cpp, win32.cpp),
// chosen by the build, plus what both share (portable.cpp). This layer is the
// bottom one: it calls nothing else of the program.
//
// Ownership: routines that return char * hand over a new heap text (free it);
// routines that return const char * lend text the platform keeps for the whole
// run; PlatformMapFile lends a file's bytes until PlatformUnmapFile. When
// memory runs out the platform, which has no way to tell the user, aborts the
// process; only PlatformMapFile fails softly instead, since there a huge
// file, not the machine, is to blame.
#ifndef ORVANE_PLATFORM_PLATFORM_H
#define ORVANE_PLATFORM_PLATFORM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// The separator that path joins put between a folder and a name.
extern const char kPathSeparator;

// The two kinds of box the program shows: plain information, and the warning
// that comes before a fatal exit.
enum BoxKind { kBoxInformation, kBoxWarning };
// What a box answers once its one button closes it; 0 when it could not be
// shown.
enum { kBoxAnswerOk = 1 };

// Hands the C runtime's arguments to the layer. POSIX rebuilds the raw command
// line from them; Windows ignores them and asks the system.
void PlatformSetArguments(int argc, char **argv);

// The raw command line, program path included, exactly as the system gives it.
const char *PlatformCommandLine(void);

// Writes the program file's full path into buffer. Returns its length; 0 on
// failure, and capacity when the path filled the buffer and may be cut short.
int PlatformProgramPath(char *buffer, int capacity);

// Shows a modal box with the caption and text and waits for it to be closed
// (POSIX: writes to the terminal). Returns the answer, kBoxAnswerOk or 0.
int PlatformMessageBox(const char *text, const char *caption, BoxKind kind);

// A box as terminal lines: information on standard output (caption, then the
// text), a warning on standard error ("caption: text"). POSIX shows every box
// this way; Windows test programs use it in place of real boxes.
int PlatformWriteBoxToTerminal(const char *text, const char *caption,
                               BoxKind kind);

// Asks the desktop to open file (a web address or a local page) with its
// associated program, without waiting. Returns 1 when the request was handed
// over, 0 when it could not be.
int PlatformOpenDocument(const char *file);

// The root of the per-user data folders, or NULL when the environment names
// none (Windows: AppData; POSIX: XDG_DATA_HOME, else HOME's .local/share).
// New heap text.
char *PlatformUserDataRoot(void);
// 1 where a missing root means a broken environment (Windows always sets
// AppData); 0 where a service or a cron job may well have none.
extern const int kUserDataRootRequired;

// The value of the environment variable name, or NULL when it is not set
// or empty. Both systems' C runtimes read the environment the program was
// started with.
const char *PlatformEnvironment(const char *name);

// The user's temporary folder; never NULL.
const char *PlatformTempFolder(void);

// Opens path for appending text lines, creating it when missing. NULL when it
// cannot be opened or is not a plain file of this user's (a link, a device).
FILE *PlatformOpenLogFile(const char *path);

// The identifier of the running process.
unsigned long PlatformProcessId(void);

// Whether two paths name one and the same file, however they are spelt
// (links, "..", letter case): POSIX compares device and inode, Windows the
// volume serial and the file index. 1 when they do, 0 when they don't (or
// either is missing), -1 when it can't be told.
int PlatformSameFile(const char *a, const char *b);

// Creates one folder (POSIX: 0777 less the umask). 0 on success, else -1.
int PlatformMakeFolder(const char *path);

// Opens path for reading in text mode. NULL when it cannot be opened or is a
// folder. Never waits for a writer, even when path names a FIFO.
FILE *PlatformOpenForReading(const char *path);

// Why PlatformMapFile gave no contents.
enum FileReadError {
  kFileReadOk,
  kFileMissing,
  kFileIsFolder,
  kFileNotPlain,  // a FIFO, a device, a socket
  kFileDenied,
  kFileReadFailed  // an I/O error, or no memory for the contents
};

// A plain file's bytes as they were when it was opened: mapped read-only
// where they lie, or, for a small file, read into a heap block (reading a
// few pages costs less than mapping them). Changes made to the file later
// may or may not show; a map reaches only as far as the size seen at the
// open. Should another program cut the file short while it is mapped, the
// read of a page past its new end faults (POSIX: SIGBUS): the process then
// ends at once with status 1 and a line on standard error saying why, as
// nothing is being saved while a file is mapped (a map must be closed
// before a save replaces the file, which Windows refuses while it is open).
struct MappedFile {
  const unsigned char *data;  // a 0-byte file gives a 1-byte block
  size_t size;
  void *view;     // the map; NULL: data is a heap block
  void *mapping;  // Windows: the file mapping object
};

// 1 with *file filled in and *error kFileReadOk; 0 with *file empty and
// *error set. Never waits: a FIFO or a device is refused at once, without
// being opened for a blocking read.
int PlatformMapFile(const char *path, MappedFile *file, FileReadError *error);

// Releases the bytes; the record is left empty.
void PlatformUnmapFile(MappedFile *file);

// Hands back to the system the pages of an open map that lie wholly before
// at, which has been read up to there: they stay readable (read again from
// the file's cache), but no longer count as the process's memory. Does
// nothing for bytes of no map, nor until a megabyte has been read on;
// nothing on Windows, whose working set trims itself.
void PlatformLetGoBefore(const void *at);

// Bytes this process can still allocate now. POSIX: the memory the system
// has available (Linux's MemAvailable), capped by what the address-space
// limit (ulimit -v) leaves above what the process already maps. Windows: the
// smaller of the free commit charge (page file) and the free address space.
// UINT64_MAX when nothing can be read.
uint64_t PlatformAvailableMemory(void);

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

// Starts the program arguments[0] with the arguments after it (a NULL-ended
// vector, borrowed) and waits for it to end. No shell sees the words. Returns
// its exit status, or -1 when it could not be started or did not end
// normally. show is how Windows shows the program's window (its SW_ numbers);
// POSIX ignores it.
int PlatformRunAndWait(char *const *arguments, int show);

// Saving without ever leaving a damaged file behind: the new contents go to
// a fresh file beside the target, which then replaces the target in one step.
// Where the file system allows (Linux), the fresh file has no name until it
// is complete, so even a process killed outright leaves nothing behind;
// elsewhere it is a hidden ".NAME.PID-N.tmp" that a stop signal removes.
struct SafeSave {
  char *target;       // the file to replace (a symbolic link is followed)
  char *temp;         // the path the caller fills the fresh file through
  char reason[200];   // why a step failed: one sentence, from the system
  int unnamed;        // the unnamed fresh file's handle, or -1
};

// Creates the fresh, empty temporary file. Returns 1, or 0 with nothing
// created and reason filled in; a read-only target is refused so.
int PlatformBeginSafeSave(const char *path, SafeSave *save);

// Flushes the temporary file to disk and moves it over the target, keeping
// the target's permission bits, and its owner and group where the system
// lets us (as root). Returns 1, or 0 with the temporary file removed, the
// target untouched and reason filled in. Either way the record is released.
int PlatformFinishSafeSave(SafeSave *save);

// Removes the temporary file and releases the record.
void PlatformAbandonSafeSave(SafeSave *save);

// The processors this process may run on: its CPU affinity (Linux:
// sched_getaffinity; Windows: the process's affinity mask), at least 1.
int PlatformProcessorCount(void);

// A thread that runs work(context) beside the caller, who must wait for it
// with PlatformJoinThread, which also releases it. NULL when the system
// starts no more threads: the caller then does the work itself. Its stack
// is kThreadStackBytes, for work that keeps its data on the heap: the
// system's default (8 MB on Linux) would take that much of the address
// space that ulimit -v bounds.
enum { kThreadStackBytes = 1 << 20 };
struct PlatformThread;
typedef void PlatformThreadWork(void *context);
PlatformThread *PlatformStartThread(PlatformThreadWork *work, void *context);
void PlatformJoinThread(PlatformThread *thread);

#endif
