// Everything the program tells the user: captioned boxes, the one fatal path,
// the usage text, the version message and the help page.
//
// ErrorExit and ErrorExitF never return: they show a warning box, then end
// the process with status 1. Formatted texts are cut to 499 characters.
#ifndef ORVANE_APP_MESSAGES_H
#define ORVANE_APP_MESSAGES_H

#include <stdarg.h>

extern const char UsageText[];

enum { kPageProduct = 1, kPageLocalHelp = 2, kPageMaker = 3 };

// The caption of every box, "Orvane Ver 1.12". Points to a static buffer
// rebuilt at each call.
const char *AppTitle(void);

int InfoBox(const char *text);
int InfoBoxF(const char *format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void ErrorExit(const char *text);
[[noreturn]] void ErrorExitF(const char *format, ...)
    __attribute__((format(printf, 1, 2)));

int ShowUsage(void);
int ShowVersion(void);

// Hands the page of the given kind to the shell; the result is the shell's.
long OpenPage(int kind);

// Formats into buffer (size 501 bytes) and cuts an overlong text to its first
// 496 characters followed by " ...". Shared by both formatted boxes.
enum { kMessageBufferSize = 501 };
void FormatMessageText(char *buffer, const char *format, va_list values);

#endif
