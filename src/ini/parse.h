// Parser of the configuration file's INI dialect: cuts the text into lines
// and turns each section header and key line into a call on the document.
#pragma once

#include <string_view>

#include "base/result.h"
#include "ini/document.h"

namespace zeviziz {

// Parses the whole text (leading byte-order marks skipped; LF or CRLF line
// ends). Returns the document, or the first error as "INI line N: " +
// message, N counting every line from 1; no partial document is returned.
Result<IniDocument> parse_ini(std::string_view text);

}  // namespace zeviziz
