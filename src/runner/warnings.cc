// Warning lines: lexer misses and directive faults are placed by byte
// offset, sorted into text order, turned into line and column by one sweep
// over the text, and formatted; printing goes to standard error.
#include "runner/warnings.h"

#include <algorithm>
#include <cstdio>

#include "log/log.h"

namespace zeviziz {
namespace {

struct Placed {
  size_t offset;
  const std::string* reason;
};

}  // namespace

std::vector<TextPosition> text_positions(std::string_view text, std::span<const size_t> offsets) {
  std::vector<TextPosition> positions;
  positions.reserve(offsets.size());
  TextPosition here;
  size_t pos = 0;
  for (size_t offset : offsets) {
    for (; pos < offset && pos < text.size(); ++pos) {
      const char c = text[pos];
      const bool line_end =
          c == '\n' || (c == '\r' && (pos + 1 >= text.size() || text[pos + 1] != '\n'));
      if (line_end) {
        ++here.line;
        here.column = 1;
      } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && c != '\r') {
        ++here.column;
      }
    }
    positions.push_back(here);
  }
  return positions;
}

std::vector<std::string> file_warnings(std::string_view path, std::string_view text,
                                       const LexTrace& trace,
                                       const std::vector<RegionFault>& faults) {
  std::vector<Placed> placed;
  placed.reserve(trace.misses.size() + faults.size());
  for (const RegionMiss& miss : trace.misses) placed.push_back(Placed{miss.offset, &miss.reason});
  for (const RegionFault& fault : faults) {
    if (fault.region >= trace.regions.size()) continue;
    placed.push_back(Placed{trace.regions[fault.region] + fault.offset, &fault.reason});
  }
  std::stable_sort(placed.begin(), placed.end(),
                   [](const Placed& a, const Placed& b) { return a.offset < b.offset; });
  std::vector<size_t> offsets;
  offsets.reserve(placed.size());
  for (const Placed& item : placed) offsets.push_back(item.offset);
  const std::vector<TextPosition> positions = text_positions(text, offsets);
  std::vector<std::string> lines;
  lines.reserve(placed.size());
  for (size_t i = 0; i < placed.size(); ++i) {
    lines.push_back("zeviziz: warning: " + std::string(path) + ":" +
                    std::to_string(positions[i].line) + ":" + std::to_string(positions[i].column) +
                    ": " + *placed[i].reason);
  }
  return lines;
}

void print_warnings(std::span<const FileRecord> records) {
  std::string text;
  for (const FileRecord& record : records) {
    for (const std::string& line : record.warnings) text += line + "\n";
  }
  if (text.empty()) return;
  close_open_line();
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace zeviziz
