// The table of the options, and the options read from the line and checked
// before any work: each slip ends the run with the usage, or for a value
// refused with the reason alone (status 1), and costs nothing.
//
// Ownership: the table is static; everything given is the caller's, only
// borrowed.
#ifndef ORVANE_APP_OPTIONS_H
#define ORVANE_APP_OPTIONS_H

#include "app/optionread.h"

// The edit options in the order they are matched.
extern const EditOption EditOptionTable[];

// Reads every option between the program path and the file name before any
// edit, so that a slip anywhere in the line costs nothing. Returns how many
// were read, or -1 after the slip was shown.
int ReadOptions(int count, char **entries, OptionRead *options);

// A last word that is no photo's name, or -o's value: the photo named
// before options, as other tools take it ("photo.jpg -w 800", "-w 800
// photo.jpg -o out.jpg"), or left out after an option or a value. 0 after
// the usage,
// which says so; 1 to go on (any other name is judged by the load).
int PhotoNamedLast(int count, char **entries);

// Whether -lossless is among the options, found before the photo is read:
// it decides whether the photo is decoded at all.
int AsksLossless(int count, char **entries);

// The last -o counts; without one, the input is saved over. One that names
// a folder (there, or ending in "/" or the system's separator) puts the
// photo in it under its own name, kept for the run; a folder that holds the
// photo itself ends the run (status 1) before any work.
const char *OutputNamedLast(const OptionRead *options, int read,
                            const char *input);

// -upright's size depends on the orientation it will find, known before any
// work: the photo's own for the first, 1 for any after it.
void NoteOrientations(OptionRead *options, int read, int orientation);

// Each -oq judged for the output's writer before any work. 0 after the
// refusal.
int QualitiesFit(const OptionRead *options, int read, const char *output);

// The coded blocks keep their own quality, so one asked for is a slip. 0
// after the usage.
int NoQualityAsked(const OptionRead *options, int read);

#endif
