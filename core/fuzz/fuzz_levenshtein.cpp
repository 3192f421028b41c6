// levenshtein_bp and levenshtein_batch against the dynamic-programming table.
#include <cstddef>
#include <cstdint>

#include "edit_distance_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quillstone::fuzz::Case input = quillstone::fuzz::decode(data, size);
  quillstone::fuzz::EditDistanceHarness<false>(input).run();
  return 0;
}
