// The command interpreter: special commands, or load, edit options in order,
// and save; with -lossless, the lossless run (app/lossless.h). Returns the
// exit status (0 or 1); fatal errors end the process with status 1 and never
// return.
//
// The rest of the run, each file using only those before it: optionread.h
// (what an option is), edits.h (the re-encoding edits), lossless.h (the
// lossless steps and run), options.h (the table of options, read and
// checked from the line).
//
// The entries belong to the caller; the interpreter only borrows them.
#ifndef ORVANE_APP_INTERPRETER_H
#define ORVANE_APP_INTERPRETER_H

int RunCommand(int count, char **entries);

#endif
