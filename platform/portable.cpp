// The platform's routines that are the same on every system: the safe save's
// rules, the terminal form of a box, the argument line, and the helpers the
// systems' files share. Each system supplies only the primitives of system.h.
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"
#include "platform/system.h"

void *AllocOrAbort(size_t size) {
  void *block = malloc(size);
  if (block == NULL) abort();
  return block;
}

char *CopyTextOrAbort(const char *text) {
  size_t n = strlen(text) + 1;
  return (char *)memcpy(AllocOrAbort(n), text, n);
}

const char *NonEmptyEnv(const char *name) {
  const char *value = getenv(name);
  return (value != NULL && value[0] != '\0') ? value : NULL;
}

const char *PlatformEnvironment(const char *name) { return NonEmptyEnv(name); }

int PlatformWriteBoxToTerminal(const char *text, const char *caption,
                               BoxKind kind) {
  if (kind == kBoxWarning) {
    fprintf(stderr, "%s: %s\n", caption, text);
    fflush(stderr);
    return kBoxAnswerOk;
  }
  size_t n = strlen(text);
  fprintf(stdout, "%s\n%s%s", caption, text,
          (n > 0 && text[n - 1] == '\n') ? "" : "\n");
  fflush(stdout);
  return kBoxAnswerOk;
}

// ---- The argument line ----

static int NeedsQuotes(const char *word) {
  return word[0] == '\0' || word[0] == '"' || strpbrk(word, " \t\n\r") != NULL;
}

// Bytes one word takes on the line (quotes doubled and added).
static size_t QuotedLength(const char *word) {
  if (!NeedsQuotes(word)) return strlen(word);
  size_t n = 2;
  for (const char *p = word; *p; p++) n += (*p == '"') ? 2 : 1;
  return n;
}

static char *AppendQuoted(char *out, const char *word) {
  if (!NeedsQuotes(word)) {
    size_t n = strlen(word);
    memcpy(out, word, n);
    return out + n;
  }
  *out++ = '"';
  for (const char *p = word; *p; p++) {
    if (*p == '"') *out++ = '"';
    *out++ = *p;
  }
  *out++ = '"';
  return out;
}

char *JoinArgumentLine(int count, const char *const *words) {
  size_t total = 1;
  for (int i = 0; i < count; i++) total += QuotedLength(words[i]) + 1;
  char *line = (char *)AllocOrAbort(total);
  char *out = line;
  for (int i = 0; i < count; i++) {
    if (i > 0) *out++ = ' ';
    out = AppendQuoted(out, words[i]);
  }
  *out = '\0';
  return line;
}

// ---- Safe save ----

enum { kTempNameAttempts = 100 };

// ".NAME.PID-N.tmp" in the target's folder: hidden, and never the name of a
// file another process is writing. The name's own part is cut so the whole
// stays within the file system's limit.
static char *TempNameBeside(const char *target) {
  static unsigned counter;
  size_t folder = SystemFileNameOffset(target);
  size_t size = strlen(target) + 64;
  char *name = (char *)AllocOrAbort(size);
  snprintf(name, size, "%.*s.%.120s.%lu-%u.tmp", (int)folder, target,
           target + folder, PlatformProcessId(), counter++);
  return name;
}

// A name that exists is tried again with the next counter; any other failure
// (no such folder, no permission) would fail for every name. *result: the
// last attempt's.
static char *CreateTempBeside(const char *target, CreateResult *result) {
  for (int attempt = 0; attempt < kTempNameAttempts; attempt++) {
    char *name = TempNameBeside(target);
    *result = SystemCreateNew(name);
    if (*result == kCreated) return name;
    free(name);
    if (*result != kAlreadyExists) break;
  }
  return NULL;
}

// The system's reason alone ("Permission denied.") doesn't say that the
// folder, not the file, is what may not be written; this names it.
static void FolderDenied(const char *target, char *reason, size_t size) {
  char system[150];
  SystemLastErrorText(system, sizeof system);
  size_t folder = SystemFileNameOffset(target);
  if (folder > 1) folder--;  // the separator, but for the root's
  if (folder == 0)
    snprintf(reason, size, "The current folder can't be written to: %s",
             system);
  else
    snprintf(reason, size, "The folder %.*s can't be written to: %s",
             (int)(folder < 100 ? folder : 100), target, system);
}

static void ReleaseSafeSave(SafeSave *save) {
  free(save->target);
  free(save->temp);
  save->target = NULL;
  save->temp = NULL;
  save->unnamed = -1;
}

int PlatformBeginSafeSave(const char *path, SafeSave *save) {
  save->reason[0] = '\0';
  save->target = SystemSaveTarget(path);
  save->temp = NULL;
  save->unnamed = -1;
  if (SystemIsReadOnly(save->target)) {
    snprintf(save->reason, sizeof save->reason, "The file is read-only.");
    ReleaseSafeSave(save);
    return 0;
  }
  save->temp = SystemCreateUnnamed(save->target, &save->unnamed);
  if (save->temp != NULL) return 1;
  CreateResult result;
  save->temp = CreateTempBeside(save->target, &result);
  if (save->temp == NULL) {
    if (result == kCreateDenied)
      FolderDenied(save->target, save->reason, sizeof save->reason);
    else
      SystemLastErrorText(save->reason, sizeof save->reason);
    ReleaseSafeSave(save);
    return 0;
  }
  return 1;
}

// A new target is the unnamed file linked under its name, in one step. An
// existing one can't be linked over: the file gets a temporary name beside
// it and at once replaces it, so the name lives for a moment, not the
// whole save.
static int PlaceUnnamed(SafeSave *save) {
  CreateResult linked = SystemLinkUnnamed(save->temp, save->target, 0);
  for (int attempt = 0; linked == kAlreadyExists && attempt < kTempNameAttempts;
       attempt++) {
    char *name = TempNameBeside(save->target);
    linked = SystemLinkUnnamed(save->temp, name, 1);
    if (linked == kCreated && !SystemReplace(name, save->target)) {
      SystemLastErrorText(save->reason, sizeof save->reason);
      SystemRemoveFile(name);
      linked = kCreateFailed;
    }
    free(name);
  }
  return linked == kCreated;
}

int PlatformFinishSafeSave(SafeSave *save) {
  int placed = SystemFlushToDisk(save->temp) &&
               (save->unnamed >= 0 ? PlaceUnnamed(save)
                                   : SystemReplace(save->temp, save->target));
  if (!placed) {
    if (save->reason[0] == '\0')
      SystemLastErrorText(save->reason, sizeof save->reason);
    PlatformAbandonSafeSave(save);
    return 0;
  }
  if (save->unnamed >= 0) SystemCloseUnnamed(save->unnamed);
  SystemForgetNew();
  ReleaseSafeSave(save);
  return 1;
}

void PlatformAbandonSafeSave(SafeSave *save) {
  if (save->unnamed >= 0)
    SystemCloseUnnamed(save->unnamed);
  else if (save->temp != NULL)
    SystemRemoveFile(save->temp);
  SystemForgetNew();
  ReleaseSafeSave(save);
}
