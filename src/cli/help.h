// Fixed texts of the command line: help and version.
#pragma once

#include <string_view>

#include "config/default_config.h"

namespace zeviziz {

// The help text, without the line feed that printing adds after it.
std::string_view help_text();

// The program version, "0.0.40".
std::string_view version_text();

}  // namespace zeviziz
