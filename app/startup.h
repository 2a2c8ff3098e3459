// Program start-up: sets the process-wide values, splits the command line,
// takes out -dbg=, logs the command line when asked, and runs the command.
#ifndef ORVANE_APP_STARTUP_H
#define ORVANE_APP_STARTUP_H

// The four arguments of a graphical program's entry are accepted and unused.
// Returns the exit status.
int AppMain(void *instance, void *previous, char *command_tail, int show);

// The folder of the program file; new heap text. "." when the system cannot
// say or the path would not fit in 512 bytes.
char *ProgramDir(void);

#endif
