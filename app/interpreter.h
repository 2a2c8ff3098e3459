// The command interpreter: special commands, or load, edit options in order,
// and save. Returns the exit status (0 or 1); fatal errors end the process
// with status 1 and never return.
//
// The entries belong to the caller; the interpreter only borrows them.
#ifndef ORVANE_APP_INTERPRETER_H
#define ORVANE_APP_INTERPRETER_H

struct EditState;  // what the edits so far have made of the photo

// One option's edit: option[0] is the option as typed, option[1] to
// option[values] its values.
typedef void EditRoutine(char **option, int values, EditState *state);

struct EditOption {
  const char *name;    // NULL closes the table
  int values;          // how many arguments follow the option
  EditRoutine *apply;  // the routine that does its edit
};

// The edit options in the order they are matched.
extern const EditOption EditOptionTable[];

int RunCommand(int count, char **entries);

#endif
