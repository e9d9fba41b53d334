// The CSS shorthand properties and the longhands each one sets, used to tell
// when a later declaration of a region overrides an earlier one.
#pragma once

#include <span>
#include <string_view>

namespace zeviziz {

// Returns the longhands that the shorthand `property` sets, expanded through
// nested shorthands (`border` gives `border-top-width` and so on, never
// `border-top`); empty when `property` is no shorthand of the table. Names
// are lower case; `property` must be lower case too. Never fails.
std::span<const std::string_view> shorthand_longhands(std::string_view property);

// True when the `all` property resets `property`: every property except
// custom properties ("--..."), `direction` and `unicode-bidi`.
bool reset_by_all(std::string_view property);

}  // namespace zeviziz
