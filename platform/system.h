// Inside the platform layer only: the primitives each system supplies to the
// portable routines of portable.cpp, and the helpers those routines lend to
// the systems' files. Nothing outside platform/ includes this header.
//
// Ownership as in platform.h: char * results are new heap texts.
#ifndef ORVANE_PLATFORM_SYSTEM_H
#define ORVANE_PLATFORM_SYSTEM_H

#include <stddef.h>

// ---- Supplied by posix.cpp or win32.cpp ----

// kCreateDenied: the folder may not be written (no permission, a read-only
// file system).
enum CreateResult { kCreated, kAlreadyExists, kCreateDenied, kCreateFailed };
// Creates path as a new empty file; an existing file is never opened. Until
// SystemForgetNew, a signal that stops the process (POSIX: SIGINT, SIGTERM,
// SIGHUP, SIGQUIT) or a crash (SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL)
// removes the file first, and a write past the file-size limit fails with an
// error rather than ending the process; one file is watched at a time.
CreateResult SystemCreateNew(const char *path);

// The file SystemCreateNew made is moved or removed: stopping no longer
// removes anything, and the signals act as before.
void SystemForgetNew(void);

// An unnamed file in target's folder (Linux: O_TMPFILE), which a process
// killed outright (SIGKILL) leaves no trace of. Returns the path it is
// written and read through (new heap text), with *handle to give to
// SystemCloseUnnamed; the signals act as for SystemCreateNew's file until
// SystemForgetNew. NULL where the system or the file system makes none.
char *SystemCreateUnnamed(const char *target, int *handle);

// Gives the unnamed file at path unnamed the name path, which must not exist
// (kAlreadyExists when it does). watch: path is only held for a moment, so
// a stop signal removes it until SystemForgetNew; else it is the final name
// and the link is made durable.
CreateResult SystemLinkUnnamed(const char *unnamed, const char *path,
                               int watch);

// Lets the unnamed file go; unless linked, it is gone.
void SystemCloseUnnamed(int handle);

// Forces the file's contents to the disk. 1, or 0 on failure.
int SystemFlushToDisk(const char *path);

// Moves from over to in one step, so to is either the old file or the new
// one, and makes the move itself durable. 1, or 0 with both left as they
// were. A replaced file keeps its permissions; Windows refuses to replace a
// read-only file.
int SystemReplace(const char *from, const char *to);

// The file a save to path must replace: on POSIX a symbolic link is followed,
// so the link stays a link. New heap text.
char *SystemSaveTarget(const char *path);

// Where the last component of path begins: behind its last separator (and on
// Windows behind a drive such as "C:"), or 0 when it has none.
size_t SystemFileNameOffset(const char *path);

// 1 when path is an existing file that may not be written: no write
// permission for anyone (or, on Windows, the read-only attribute), or none
// for this user.
int SystemIsReadOnly(const char *path);

// The system's description of the error the last failed call left (POSIX:
// errno; Windows: GetLastError), as one sentence ending in a full stop.
void SystemLastErrorText(char *buffer, size_t size);

// Removes one file; nothing happens when it is missing.
void SystemRemoveFile(const char *path);

// ---- Shared by both systems' files (portable.cpp) ----

// The platform sits below the message boxes and cannot tell the user that
// memory ran out, so these stop the process at once instead (abort).
void *AllocOrAbort(size_t size);
char *CopyTextOrAbort(const char *text);

// The variable's value when it is set and not empty, else NULL.
const char *NonEmptyEnv(const char *name);

// The words as one line that the program's own tokenizer splits back into
// exactly the same words: a word that is empty, starts with a double quote
// or holds a blank is quoted, its quotes doubled. New heap text.
char *JoinArgumentLine(int count, const char *const *words);

#endif
