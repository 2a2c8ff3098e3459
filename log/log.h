// The diagnostic log: time-stamped lines appended to one file, each run and
// each new day starting with a date banner. The file is opened and closed for
// every write, so a sudden end loses nothing already logged. Logging never
// reports failure; lines that cannot be written are silently lost.
//
// Ownership: the path LogInTemp makes stays valid for the rest of the run,
// whatever path is set later; LogSetPath keeps the caller's pointer, which
// must stay valid. Texts longer than 512
// characters are cut.
#ifndef ORVANE_LOG_LOG_H
#define ORVANE_LOG_LOG_H

// Points the log at file_name in the user's temporary folder.
const char *LogInTemp(const char *file_name);
const char *LogSetPath(const char *path);

// One timed line, preceded by a banner when the date changed or the path was
// set anew. Returns the status of closing the file, or 0 when nothing was
// written.
int LogF(const char *format, ...) __attribute__((format(printf, 1, 2)));
// One line without time or banner.
int LogRawF(const char *format, ...) __attribute__((format(printf, 1, 2)));
// text, then each argument behind one blank, as one timed line.
void LogArgs(const char *text, int count, const char *const *arguments);

#endif
