// The command interpreter: special commands, or load, edit options in order,
// and save; with -lossless, the lossless run (app/lossless.h). Returns the
// exit status (0 or 1); fatal errors end the process with status 1 and never
// return.
//
// The entries belong to the caller; the interpreter only borrows them.
#ifndef ORVANE_APP_INTERPRETER_H
#define ORVANE_APP_INTERPRETER_H

int RunCommand(int count, char **entries);

#endif
