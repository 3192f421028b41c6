// Reads UTF-8 lines from stdin (split on '\n' only) and writes the core's
// full lower case of each, followed by '\n', to stdout. A last line without
// '\n' counts as a line. Malformed UTF-8 is refused rather than folded, since
// the core takes well-formed text only.
#include <cstdio>
#include <string>
#include <string_view>

#include "text/case_folding.hpp"
#include "text/utf8.hpp"

namespace {

// Well-formed UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
bool is_well_formed(std::string_view s) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* const end = p + s.size();
  while (p < end) {
    const unsigned char b0 = *p;
    if (b0 < 0x80) {
      ++p;
      continue;
    }
    int extra;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      extra = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      extra = 2;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      extra = 3;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (int i = 2; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += extra + 1;
  }
  return true;
}

}  // namespace

int main() {
  std::string input;
  {
    char buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) input.append(buf, n);
    if (std::ferror(stdin)) {
      std::fputs("fold_dump: cannot read stdin\n", stderr);
      return 1;
    }
  }

  std::string output;
  output.reserve(input.size() + input.size() / 2 + 1);
  std::string_view rest(input);
  std::size_t line_no = 0;
  while (!rest.empty()) {
    ++line_no;
    const std::size_t nl = rest.find('\n');
    const std::string_view line = rest.substr(0, nl);
    rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
    if (!is_well_formed(line)) {
      std::fprintf(stderr, "fold_dump: line %zu is not well-formed UTF-8\n", line_no);
      return 2;
    }
    output += quillstone::detail::to_lower_full(line);
    output.push_back('\n');
  }

  if (std::fwrite(output.data(), 1, output.size(), stdout) != output.size() ||
      std::fflush(stdout) != 0) {
    std::fputs("fold_dump: cannot write stdout\n", stderr);
    return 1;
  }
  return 0;
}
