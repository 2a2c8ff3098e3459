// Helper of the Windows tests: writes the raw command line it was given and
// the words the program's tokenizer makes of it, one per line, to the file
// named by ORVANE_ECHO_FILE.
#include <stdio.h>
#include <stdlib.h>

#include "app/cmdline.h"
#include "platform/platform.h"

int main() {
  const char *out_path = getenv("ORVANE_ECHO_FILE");
  FILE *out = out_path != NULL ? fopen(out_path, "wb") : NULL;
  if (out == NULL) return 2;
  char *words[31];
  int count = TokenizeCommandLine(PlatformCommandLine(), 30, words);
  fprintf(out, "%s\n", PlatformCommandLine());
  for (int i = 1; i < count; i++) fprintf(out, "[%s]\n", words[i]);
  return fclose(out) == 0 ? 0 : 2;
}
