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

constexpr std::string_view kTimeWord = "VELT_TIME";

}  // namespace

bool may_replace(std::string_view text, const Replacements& replacements) {
  if (text.find(kTimeWord) != std::string_view::npos) return true;
  return std::any_of(replacements.begin(), replacements.end(), [text](const auto& pair) {
    return !pair.first.empty() && text.find(pair.first) != std::string_view::npos;
  });
}

// Each pass replaces like replace_all: left to right, non-overlapping, an
// empty `from` changing nothing.
ReplacementMap::ReplacementMap(std::string_view written, const Replacements& replacements,
                               std::string_view time) {
  std::string text(written);
  auto pass = [&](std::string_view from, std::string_view to) {
    std::vector<Edit>& edits = passes_.emplace_back();
    if (from.empty()) return;
    std::string out;
    long shift = 0;
    size_t start = 0;
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, start)) {
      out.append(text, start, pos - start);
      shift += static_cast<long>(to.size()) - static_cast<long>(from.size());
      edits.push_back(Edit{out.size(), to.size(), shift});
      out.append(to);
      start = pos + from.size();
    }
    out.append(text, start, std::string::npos);
    text = std::move(out);
  };
  for (const auto& [from, to] : replacements) pass(from, to);
  pass(kTimeWord, time);
}

size_t ReplacementMap::to_written(size_t offset) const {
  for (auto pass = passes_.rbegin(); pass != passes_.rend(); ++pass) {
    const auto after = std::upper_bound(pass->begin(), pass->end(), offset,
                                        [](size_t value, const Edit& e) { return value < e.at; });
    if (after == pass->begin()) continue;
    const Edit& edit = *(after - 1);
    if (offset < edit.at + edit.size) {
      // Inside the new text: the start of what it replaced.
      const long before = after - 1 == pass->begin() ? 0 : (after - 2)->shift;
      offset = static_cast<size_t>(static_cast<long>(edit.at) - before);
    } else {
      offset = static_cast<size_t>(static_cast<long>(offset) - edit.shift);
    }
  }
  return offset;
}

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
                                       const std::vector<RegionFault>& faults,
                                       const std::string* written, const Replacements& replacements,
                                       std::string_view time) {
  std::vector<Placed> placed;
  placed.reserve(trace.misses.size() + faults.size());
  for (const RegionMiss& miss : trace.misses) placed.push_back(Placed{miss.offset, &miss.reason});
  for (const RegionFault& fault : faults) {
    if (fault.region >= trace.regions.size()) continue;
    placed.push_back(Placed{trace.regions[fault.region] + fault.offset, &fault.reason});
  }
  std::stable_sort(placed.begin(), placed.end(),
                   [](const Placed& a, const Placed& b) { return a.offset < b.offset; });
  if (placed.empty()) return {};
  std::vector<size_t> offsets;
  offsets.reserve(placed.size());
  for (const Placed& item : placed) offsets.push_back(item.offset);
  if (written != nullptr) {
    // Replacements keep the order of offsets, so the list stays ascending.
    const ReplacementMap map(*written, replacements, time);
    for (size_t& offset : offsets) offset = map.to_written(offset);
    text = *written;
  }
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
