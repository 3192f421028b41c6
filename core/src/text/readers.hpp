// The texts a kernel reads, one character at a time: ASCII bytes, or UTF-8
// decoded while it is read.
#pragma once


#include "text/utf8.hpp"

namespace quillstone::detail {

struct ByteReader {
  const unsigned char* p;
  explicit ByteReader(TextView text) noexcept : p(reinterpret_cast<const unsigned char*>(text.data())) {}
  unsigned char next() noexcept { return *p++; }
};

struct Utf8Reader {
  const char* p;
  explicit Utf8Reader(TextView text) noexcept : p(text.data()) {}
  char32_t next() noexcept { return decode_next(p); }
};

}  // namespace quillstone::detail
