#include "app/optionread.h"

#include <stdio.h>

#include "app/messages.h"

void JoinWords(char *buffer, size_t size, char **entries, int from, int to) {
  size_t used = 0;
  buffer[0] = '\0';
  for (int i = from; i <= to && used < size; i++)
    used += (size_t)snprintf(buffer + used, size - used, "%s%s",
                             i > from ? " " : "",
                             entries[i][0] != '\0' ? entries[i] : "\"\"");
}

void DescribeOption(char *buffer, size_t size, const OptionRead *option) {
  JoinWords(buffer, size, option->words, 0, option->row->values);
}

[[noreturn]] void OptionFailed(const OptionRead *option, const char *reason) {
  char described[200];
  DescribeOption(described, sizeof described, option);
  ErrorExitF("Option %s failed: %s", described, reason);
}

static void MisreadHeading(char *heading, size_t size, const char *words,
                           const char *why) {
  snprintf(heading, size, "Not understood: %.200s%s%.200s%s", words,
           why[0] ? " (" : "", why, why[0] ? ")" : "");
}

int Misread(const char *words, const char *why) {
  char heading[kMessageBufferSize];
  MisreadHeading(heading, sizeof heading, words, why);
  ShowUsageForMistake(heading);
  return 0;
}

int MisreadValue(const char *words, const char *why) {
  char heading[kMessageBufferSize];
  MisreadHeading(heading, sizeof heading, words, why);
  ShowValueMistake(heading);
  return 0;
}
