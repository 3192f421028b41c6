// damerau_bp and damerau_batch against the optimal-string-alignment table.
#include <cstddef>
#include <cstdint>

#include "edit_distance_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quillstone::fuzz::Case input = quillstone::fuzz::decode(data, size);
  quillstone::fuzz::EditDistanceHarness<true>(input).run();
  return 0;
}
