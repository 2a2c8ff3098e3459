// The command interpreter: special commands, or load, edit options in order,
// and save. Returns the exit status (0 or 1); fatal errors end the process
// with status 1 and never return.
//
// The entries belong to the caller; the interpreter only borrows them.
#ifndef ORVANE_APP_INTERPRETER_H
#define ORVANE_APP_INTERPRETER_H

// What an edit option does.
enum EditAction {
  kCrop,
  kRotate,
  kFlipHorizontal,
  kFlipVertical,
  kOutput,
  kQuality,
  kWidth,
  kHeight,
  kWidthHeight
};

struct EditOption {
  const char *name;   // NULL closes the table
  int values;         // how many arguments follow the option
  EditAction action;  // what it does, whatever its row
};

// The edit options in the order they are matched.
extern const EditOption EditOptionTable[];

int RunCommand(int count, char **entries);

#endif
