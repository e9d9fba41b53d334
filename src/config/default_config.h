// The configuration text that a new project starts with (written by --init).
#pragma once

#include <string_view>

namespace zeviziz {

// The default configuration: exactly 1981 bytes, 64 lines separated by line
// feeds, no line feed after the last line.
std::string_view default_config_text();

}  // namespace zeviziz
