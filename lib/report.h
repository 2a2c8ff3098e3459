// Telling the user: captioned boxes and the one fatal path, which every layer
// above the platform uses. The program's own texts (usage, version, help
// page) live with the program, in app/messages.h.
//
// ErrorExit, ErrorExitF and, when memory runs out, ReallocOrExit never
// return: they show a warning box, then end the process with status 1.
// Formatted texts are cut to fit kMessageBufferSize.
#ifndef ORVANE_LIB_REPORT_H
#define ORVANE_LIB_REPORT_H

#include <stdarg.h>
#include <stddef.h>

// The caption of every box, "Orvane Ver 1.12". Points to a static buffer
// rebuilt at each call.
const char *AppTitle(void);

// Both return the box's answer (1 once closed, 0 when it could not be shown).
int InfoBox(const char *text);
// A warning that does not end the program (POSIX: on standard error).
int WarningBox(const char *text);
int InfoBoxF(const char *format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void ErrorExit(const char *text);
[[noreturn]] void ErrorExitF(const char *format, ...)
    __attribute__((format(printf, 1, 2)));

// A formatted message holds at most kMessageBufferSize - 2 characters; a
// longer one is cut and ends in kCutMark, kMessageBufferSize - 1 in all.
enum { kMessageBufferSize = 501 };
extern const char kCutMark[];  // " ..."
// Formats into buffer (kMessageBufferSize bytes), cutting as said above.
// Shared by both formatted boxes.
void FormatMessageText(char *buffer, const char *format, va_list values);

// block (NULL for a new one) resized to count items of size bytes. When the
// size does not fit in memory, or not even in size_t, the program ends with
// the caller's fixed message ("out of memory" or "Out of memory"). The one
// way the program runs out of memory; never returns NULL.
void *ReallocOrExit(void *block, size_t count, size_t size,
                    const char *message);

#endif
