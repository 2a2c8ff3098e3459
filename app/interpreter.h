// The command interpreter: special commands, or load, edit options in order,
// and save; with -lossless, the lossless run (app/lossless.h). Returns the
// exit status (0 or 1); fatal errors end the process with status 1 and never
// return.
//
// The entries belong to the caller; the interpreter only borrows them.
#ifndef ORVANE_APP_INTERPRETER_H
#define ORVANE_APP_INTERPRETER_H

#include <stddef.h>
#include <stdint.h>

struct EditState;   // what the edits so far have made of the photo
struct OptionRead;

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
  const char *needs;   // its values in words ("a height"); "" for none
};

// The edit options in the order they are matched.
extern const EditOption EditOptionTable[];

enum { kMostValues = 4 };

// One option with its values, read and checked.
struct OptionRead {
  const EditOption *row;
  char **words;              // the option as typed, then its values
  int whole[kMostValues];    // kWholeNumbers: the values
  double angle;              // kAngle: the value
  int orientation;           // -upright: the one it will find
};

// The option and its values as the user typed them.
void DescribeOption(char *buffer, size_t size, const OptionRead *option);

// Ends the run with "Option <as typed> failed: <reason>".
[[noreturn]] void OptionFailed(const OptionRead *option, const char *reason);

// Why the crop -c v[0] v[1] v[2] v[3] can't be made of a width x height
// image, with -lossless or without: an empty rectangle, or where it lies.
void CropRefusal(char *buffer, size_t size, int64_t width, int64_t height,
                 const int *v);

int RunCommand(int count, char **entries);

#endif
