// The command interpreter: special commands, or load, edit options in order,
// and save. Returns the exit status (0 or 1); fatal errors end the process
// with status 1 and never return.
//
// The entries belong to the caller; the interpreter only borrows them.
#ifndef ORVANE_APP_INTERPRETER_H
#define ORVANE_APP_INTERPRETER_H

#include <stdint.h>

struct EditState;   // what the edits so far have made of the photo
struct OptionRead;  // one option with its values, read and checked

// What an option's values are.
enum ValueKind {
  kNoValues,
  kWholeNumbers,  // -c, -oq, -w, -h, -wh
  kAngle,         // -r: a decimal number
  kText           // -o: a file name
};

// One option's edit.
typedef void EditRoutine(const OptionRead *option, EditState *state);
// The size its edit makes of a width x height image; 0 x 0 when unknown.
typedef void EditedSize(const OptionRead *option, int64_t *width,
                        int64_t *height);

struct EditOption {
  const char *name;    // NULL closes the table
  int values;          // how many arguments follow the option
  ValueKind kind;      // what they are
  EditRoutine *apply;  // the routine that does its edit
  EditedSize *size;    // NULL when the edit keeps the size
};

// The edit options in the order they are matched.
extern const EditOption EditOptionTable[];

int RunCommand(int count, char **entries);

#endif
