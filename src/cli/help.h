// Fixed texts of the command line: help, version and default configuration.
#pragma once

#include <string_view>

namespace zeviziz {

// The help text, without the line feed that printing adds after it.
std::string_view help_text();

// The program version, "0.0.40".
std::string_view version_text();

// The configuration that --init writes: exactly 1981 bytes, 64 lines
// separated by line feeds, no line feed after the last line.
std::string_view default_config_text();

}  // namespace zeviziz
