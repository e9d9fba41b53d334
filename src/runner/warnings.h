// Warnings of a build: text in a template that began like a style region but
// stayed text, and regions whose directives failed so that they stayed text.
// They are collected per file while it compiles and written to standard
// error afterwards, in file-list order; they never change an output.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
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

using Replacements = std::vector<std::pair<std::string, std::string>>;

// True when `replacements` or "VELT_TIME" may change `text`, so that the
// file as written must be kept to name places in it.
bool may_replace(std::string_view text, const Replacements& replacements);

// Maps byte offsets of the text that apply_replacements made back to the
// text it was made from: offsets after a replaced piece move by the change
// in length, offsets inside a replacement go to the start of what it
// replaced.
class ReplacementMap {
 public:
  // Replays the replacements on `written`, recording where each changed it.
  ReplacementMap(std::string_view written, const Replacements& replacements, std::string_view time);

  size_t to_written(size_t offset) const;

 private:
  struct Edit {
    size_t at;    // start of the new text in the pass's output
    size_t size;  // length of the new text
    long shift;   // total change in length up to and including this edit
  };
  std::vector<std::vector<Edit>> passes_;
};

// Returns the warning lines of one compiled file, in text order:
// "zeviziz: warning: " + path + ":" + line + ":" + column + ": " + reason,
// one per lexer miss of `trace` and one per region fault (placed at its
// region's offset in `trace.regions` plus the fault's offset). The offsets
// refer to `text`, the compiled text; when `written` is given, places are
// named in it, the file as read before `replacements` and then "VELT_TIME"
// (replaced by `time`) made `text`.
std::vector<std::string> file_warnings(std::string_view path, std::string_view text,
                                       const LexTrace& trace,
                                       const std::vector<RegionFault>& faults,
                                       const std::string* written = nullptr,
                                       const Replacements& replacements = {},
                                       std::string_view time = {});

// Writes the warning lines of `records`, in order, each with a line feed, to
// standard error, after ending any open log line and flushing standard
// output. Writes nothing when there are none.
void print_warnings(std::span<const FileRecord> records);

}  // namespace zeviziz
