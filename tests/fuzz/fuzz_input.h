// Carves a fuzzer's bytes into the values a target needs: small numbers from
// the front, then texts separated by NUL bytes.
#ifndef ORVANE_TESTS_FUZZ_FUZZ_INPUT_H
#define ORVANE_TESTS_FUZZ_FUZZ_INPUT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

class FuzzInput {
 public:
  FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  // A signed number from the next four bytes (0 when they run out).
  int Int() {
    uint32_t value = 0;
    for (int i = 0; i < 4 && pos_ < size_; i++)
      value = (value << 8) | data_[pos_++];
    return (int)value;
  }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  // The bytes up to the next NUL (or the end).
  std::string Text() {
    std::string text;
    while (pos_ < size_ && data_[pos_] != 0) text += (char)data_[pos_++];
    if (pos_ < size_) pos_++;
    return text;
  }

  // Everything left, NULs included.
  std::string Rest() {
    std::string rest((const char *)data_ + pos_, size_ - pos_);
    pos_ = size_;
    return rest;
  }

  bool Empty() const { return pos_ >= size_; }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

#endif
