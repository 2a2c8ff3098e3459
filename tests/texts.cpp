#include "tests/texts.h"

#include <stdlib.h>

std::string Own(char *text) {
  std::string copy = text != nullptr ? text : "<NULL>";
  free(text);
  return copy;
}

Texts TextsOf(const char *const *list) {
  Texts texts;
  for (int i = 0; list[i] != nullptr; i++) texts.push_back(list[i]);
  return texts;
}
