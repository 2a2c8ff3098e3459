// Paths, whole files, folders, the per-user data folder and child processes.
//
// Ownership: every path or text returned is a new heap text the caller
// releases with free; a listing is a StringList released with StringListFree.
// CopyTextFile, ReadAll, AppDataPath and EnsureUserFile end the program with
// a warning box and status 1 when they cannot do their work; the others
// answer softly (0, -1 or an empty list).
#ifndef ORVANE_LIB_PATHS_H
#define ORVANE_LIB_PATHS_H

#include "lib/stringlist.h"

// folder, the platform's separator unless folder is empty or already ends in
// it, then name.
char *PathJoin(const char *folder, const char *name);
// The same join into buffer; returns 1, or 0 when it would not fit in
// capacity bytes (the buffer is then untouched).
int PathJoinInto(int capacity, char *buffer, const char *folder,
                 const char *name);

// The folder part of a path as POSIX dirname gives it, with "\" and "/" both
// separators and a leading drive ("C:") kept. New heap text.
char *FolderOfPath(const char *path);

unsigned long CurrentProcessId(void);

// 1 when path can be opened for reading, else 0 (a folder gives 0).
int FileExists(const char *path);
// 1 when path is a folder whose entries can be listed, else 0.
int FolderExists(const char *path);

// Replaces target with a text-mode copy of source; returns 1. The target is
// replaced in one step, so a failed copy leaves it as it was. Fatal: "Can't
// open %s" (source), "Can't create %s" (target), "Can't write %s" (target).
int CopyTextFile(const char *source, const char *target);

// Names of the files, or of the sub-folders, in folder that match pattern
// (wildcards "*" and "?", any letter case; "" stands for "*.*"). "." and ".."
// are never listed; a missing folder gives an empty list.
StringList ListFiles(const char *folder, const char *pattern);
StringList ListFolders(const char *folder, const char *pattern);

// Runs file with parameters and waits for it. Returns its exit code, or -1
// when it could not be started or did not end normally.
int RunAndWait(const char *file, const char *parameters, int show);

// path with the extension of its last component replaced by extension, which
// brings its own full stop (".bmp"); appended when there is none.
char *ChangeExtension(const char *path, const char *extension);

// Creates the folder path and every missing folder above it, outermost
// first; "/" and "\" both separate. Returns 1 when creation was attempted
// (whatever came of it), 0 for NULL, "", ".", "..", "/", "\" and a bare drive.
int MakeFolders(const char *path);

// The whole text of the file. Fatal: "Can't read file: %s" when it cannot be
// opened or has no size (a FIFO, a folder); "ReadAll: Out of memory".
char *ReadAll(const char *path);

// The per-user data folder root/maker/program (not created). Fatal when the
// system names no root: "The APPDATA environment variable is missing.".
char *AppDataPath(const char *maker, const char *program);

// The per-user copy of file_name, first copied from default_folder when the
// user has none yet. Fatal as AppDataPath and CopyTextFile are.
char *EnsureUserFile(const char *default_folder, const char *maker,
                     const char *program, const char *file_name);

#endif
