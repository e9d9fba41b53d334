// Warnings of a build: text in a template that began like a style region but
// stayed text, and regions whose directives failed so that they stayed text.
// They are collected per file while it compiles and written to standard
// error afterwards, in file-list order; they never change an output.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "directive/service.h"
#include "lexer/lexer.h"
#include "runner/build_support.h"

namespace zeviziz {

// A place in a text: line and column counted from 1, the column in
// characters. "\n", "\r\n" and a lone "\r" each end a line.
struct TextPosition {
  size_t line = 1;
  size_t column = 1;
};

// Returns the position of each byte offset of `offsets` (ascending) in
// `text`, in one pass.
std::vector<TextPosition> text_positions(std::string_view text, std::span<const size_t> offsets);

// Returns the warning lines of one compiled file, in text order:
// "zeviziz: warning: " + path + ":" + line + ":" + column + ": " + reason,
// one per lexer miss of `trace` and one per region fault (placed at its
// region's offset in `trace.regions` plus the fault's offset). `text` is the
// compiled text the offsets refer to.
std::vector<std::string> file_warnings(std::string_view path, std::string_view text,
                                       const LexTrace& trace,
                                       const std::vector<RegionFault>& faults);

// Writes the warning lines of `records`, in order, each with a line feed, to
// standard error, after ending any open log line and flushing standard
// output. Writes nothing when there are none.
void print_warnings(std::span<const FileRecord> records);

}  // namespace zeviziz
