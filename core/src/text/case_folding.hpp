// Full Unicode lower-casing of whole texts.
#pragma once

#include <string>

#include "quillstone/quillstone.hpp"

namespace quillstone::detail {

// The full Unicode lower-case form of a whole text: UnicodeData and the
// unconditional SpecialCasing mappings, capital sigma by the Final_Sigma
// rule, no locale tailoring.
std::string to_lower_full(TextView text) noexcept;

}  // namespace quillstone::detail
