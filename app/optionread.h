// What an option is: its row in the table of options (app/options.h), which
// says both how it edits the decoded picture and how it composes into the
// lossless run; the option as read from the line, with its values; and how
// messages name it.
//
// Ownership: the rows are static; an OptionRead borrows its words from the
// argument vector.
#ifndef ORVANE_APP_OPTIONREAD_H
#define ORVANE_APP_OPTIONREAD_H

#include <stddef.h>
#include <stdint.h>

#include "image/imagefile.h"

struct EditState;    // what the edits so far have made of the photo
struct LosslessRun;  // the lossless transform composed so far
struct OptionRead;

// What an option's values are.
enum ValueKind {
  kNoValues,
  kWholeNumbers,  // -c, -oq, -w, -h, -wh
  kAngle,         // -r: a decimal number
  kText,          // -o: a file name
  kFilterName     // -filter: a resize filter's name
};

// One option's edit.
typedef void EditRoutine(const OptionRead *option, EditState *state);
// The size its edit makes of a width x height image; 0 x 0 when unknown.
typedef void EditedSize(const OptionRead *option, int64_t *width,
                        int64_t *height);
// One option's part in the lossless transform (app/lossless.h).
typedef void ComposeStep(const OptionRead *option, LosslessRun *run);

struct EditOption {
  const char *name;    // NULL closes the table
  int values;          // how many arguments follow the option
  ValueKind kind;      // what they are
  EditRoutine *apply;  // the routine that does its edit
  EditedSize *size;    // NULL when the edit keeps the size
  // With -lossless, exactly one of: the step that composes it, or why it
  // can't be done losslessly (the step is then NULL). One that acts on
  // nothing the transform holds composes with ComposeNothing.
  ComposeStep *compose;
  const char *lossless_why_not;
  const char *needs;  // its values in words ("a height"); "" for none
};

enum { kMostValues = 4 };

// One option with its values, read and checked.
struct OptionRead {
  const EditOption *row;
  char **words;            // the option as typed, then its values
  int whole[kMostValues];  // kWholeNumbers: the values
  double angle;            // kAngle: the value
  int orientation;         // -upright: the one it will find
  // -filter: the filter it names; any other option: the one in effect
  // where it stands, which -w, -h and -wh resize with.
  ResizeFilter filter;
  // -w, -h, -wh: the size worked out on the photo's full size, for a photo
  // decoded at a fraction of it; 0 x 0: worked out on the picture at hand.
  int planned_width, planned_height;
};

// Words from..to of the line joined by blanks, for messages; an empty one
// shows as "".
void JoinWords(char *buffer, size_t size, char **entries, int from, int to);

// The option and its values as the user typed them.
void DescribeOption(char *buffer, size_t size, const OptionRead *option);

// Ends the run with "Option <as typed> failed: <reason>".
[[noreturn]] void OptionFailed(const OptionRead *option, const char *reason);

// The usage, headed by the words that were not understood and why. 0, so
// that a reader can end with it.
int Misread(const char *words, const char *why);
// The same for a value refused: the words and why, then where the usage is.
int MisreadValue(const char *words, const char *why);

#endif
