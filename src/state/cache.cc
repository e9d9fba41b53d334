// Encoding and decoding of the cache file. The encoder walks the rules in
// use in ascending class ID and gives each distinct declaration, selector and
// at-rule text a number the first time a rule uses it, writing the text lines
// as it goes; rule lines then refer to those numbers. The decoder walks the
// lines once with a section counter that every separator line (a single NUL)
// advances, checks every record as it reads it, and checks at the end that
// all five sections were present and every file names existing rules.
#include "state/cache.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>

#include "fs/scan.h"

namespace zeviziz {
namespace {

constexpr int kSectionCount = 5;
constexpr std::string_view kSeparatorLine("\0\n", 2);

// Appends `value` in decimal without a temporary string.
void append_number(std::string& out, uint64_t value) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// ---------------------------------------------------------------- decoding

// An unsigned 64-bit decimal with an optional single leading "+".
Result<uint64_t> parse_number(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return make_error("Invalid cache number");
  uint64_t value = 0;
  for (char ch : text) {
    const unsigned digit = static_cast<unsigned char>(ch) - '0';
    if (digit > 9 || __builtin_mul_overflow(value, uint64_t{10}, &value) ||
        __builtin_add_overflow(value, uint64_t{digit}, &value)) {
      return make_error("Invalid cache number");
    }
  }
  return value;
}

// Walks the NUL-separated fields of one line without collecting them.
class Fields {
 public:
  explicit Fields(std::string_view line) : rest_(line) {}

  // The next field; false once every field was taken.
  bool next(std::string_view& field) {
    if (done_) return false;
    const size_t nul = rest_.find('\0');
    if (nul == std::string_view::npos) {
      field = rest_;
      done_ = true;
    } else {
      field = rest_.substr(0, nul);
      rest_.remove_prefix(nul + 1);
    }
    return true;
  }

 private:
  std::string_view rest_;
  bool done_ = false;
};

// Number of NUL-separated fields in `line` (at least 1).
size_t field_count(std::string_view line) {
  return 1 + static_cast<size_t>(std::count(line.begin(), line.end(), '\0'));
}

// Inserts (key, value) into an ordered map; keys usually arrive ascending, so
// the end is tried as the place first. Returns false for a key already there.
template <typename Map, typename Key, typename Value>
bool insert_ordered(Map& map, Key&& key, Value&& value) {
  if (map.empty() || map.rbegin()->first < key) {
    map.emplace_hint(map.end(), std::forward<Key>(key), std::forward<Value>(value));
    return true;
  }
  return map.try_emplace(std::forward<Key>(key), std::forward<Value>(value)).second;
}

// The decoder's state while it walks the lines.
class Decoder {
 public:
  Status take_line(std::string_view line) {
    if (line.size() == 1 && line[0] == '\0') {
      if (++section_ >= kSectionCount) return make_error("Too many cache sections");
      return {};
    }
    switch (section_) {
      case 0:
        return file_line(line);
      case 1:
        return value_line(line, cache_.attributes, false, "Invalid cache attribute record");
      case 2:
        return value_line(line, cache_.selectors, true, "Invalid cache selector record");
      case 3:
        return value_line(line, cache_.at_rules, false, "Invalid cache at-rule record");
      default:
        return rule_line(line);
    }
  }

  Result<DecodedCache> finish() {
    if (section_ < kSectionCount - 1) return make_error("Missing cache section");
    std::vector<uint64_t> rule_numbers;
    rule_numbers.reserve(cache_.rules.size());
    for (const auto& entry : cache_.rules) rule_numbers.push_back(entry.first);
    for (const auto& [path, numbers] : cache_.files) {
      // Both lists ascend, so each search starts where the previous ended.
      auto from = rule_numbers.begin();
      for (uint64_t number : numbers) {
        from = std::lower_bound(from, rule_numbers.end(), number);
        if (from == rule_numbers.end() || *from != number) return make_error("Missing cache rule");
      }
    }
    return std::move(cache_);
  }

 private:
  // The path, then one or more non-empty number fields.
  static bool well_formed_file_line(std::string_view line) {
    const size_t nul = line.find('\0');
    if (nul == std::string_view::npos) return false;
    const std::string_view numbers = line.substr(nul + 1);
    return !numbers.empty() && numbers.front() != '\0' && numbers.back() != '\0' &&
           numbers.find(std::string_view("\0\0", 2)) == std::string_view::npos;
  }

  Status file_line(std::string_view line) {
    if (!well_formed_file_line(line)) return make_error("Invalid cache file record");
    Fields fields(line);
    std::string_view path;
    fields.next(path);
    if (!is_plain_relative(path)) {
      return make_error("Expected a relative path inside in_directory: " + std::string(path));
    }
    scratch_.clear();
    std::string_view field;
    while (fields.next(field)) {
      ZV_TRY(uint64_t number, parse_number(field));
      scratch_.push_back(number);
    }
    std::sort(scratch_.begin(), scratch_.end());
    scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
    if (scratch_.front() == 0) return make_error("Invalid cache file record");
    if (!insert_ordered(cache_.files, std::string(path), scratch_)) {
      return make_error("Invalid cache file record");
    }
    return {};
  }

  static Status value_line(std::string_view line, std::map<uint64_t, std::string>& table,
                           bool nul_allowed, const char* record_message) {
    size_t nul = line.find('\0');
    if (nul == std::string_view::npos) return make_error(record_message);
    ZV_TRY(uint64_t number, parse_number(line.substr(0, nul)));
    std::string_view text = line.substr(nul + 1);
    bool bad_text = text.empty() || (!nul_allowed && text.find('\0') != std::string_view::npos);
    if (number == 0 || bad_text || !insert_ordered(table, number, text)) {
      return make_error(record_message);
    }
    return {};
  }

  Status rule_line(std::string_view line) {
    if (field_count(line) < 3) return make_error("Invalid cache rule record");
    Fields fields(line);
    std::string_view field;
    fields.next(field);
    ZV_TRY(uint64_t number, parse_number(field));
    CacheRule rule;
    fields.next(field);
    ZV_TRY(rule.attribute, parse_number(field));
    fields.next(field);
    ZV_TRY(rule.selector, parse_number(field));
    if (number == 0 || rule.attribute == 0) return make_error("Invalid cache rule record");
    if (!cache_.attributes.contains(rule.attribute)) return make_error("Missing cache attribute");
    if (rule.selector != 0 && !cache_.selectors.contains(rule.selector)) {
      return make_error("Missing cache selector");
    }
    while (fields.next(field)) {
      if (field.empty()) return make_error("Invalid cache rule record");
      ZV_TRY(uint64_t at_rule, parse_number(field));
      if (!cache_.at_rules.contains(at_rule)) return make_error("Missing cache at-rule");
      rule.at_rules.push_back(at_rule);
    }
    // Written innermost first; kept outermost first.
    std::reverse(rule.at_rules.begin(), rule.at_rules.end());
    if (!insert_ordered(cache_.rules, number, std::move(rule))) {
      return make_error("Duplicate cache rule");
    }
    return {};
  }

  DecodedCache cache_;
  std::vector<uint64_t> scratch_;  // one file line's numbers
  int section_ = 0;
};

// ---------------------------------------------------------------- encoding

bool has_line_break(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Text that may stand in a path, declaration or at-rule field.
bool is_plain_value(std::string_view text) {
  return !text.empty() && !has_line_break(text) && text.find('\0') == std::string_view::npos;
}

// One of the three text sections: numbers texts in order of first use and
// writes their lines.
class TextSection {
 public:
  // Returns the text's number, entering it when new; "" stands as 0.
  uint64_t number_of(std::string_view text) {
    if (text.empty()) return 0;
    auto [slot, inserted] = numbers_.try_emplace(text, numbers_.size() + 1);
    if (inserted) {
      append_number(lines_, slot->second);
      lines_ += '\0';
      lines_ += text;
      lines_ += '\n';
    }
    return slot->second;
  }
  const std::string& lines() const { return lines_; }

 private:
  std::unordered_map<std::string_view, uint64_t> numbers_;  // views into the registry
  std::string lines_;
};

Status check_rule_texts(const Rule& rule) {
  bool ok = is_plain_value(rule.declaration) && !has_line_break(rule.selector) &&
            std::all_of(rule.at_rules.begin(), rule.at_rules.end(),
                        [](const std::string& at_rule) { return is_plain_value(at_rule); });
  if (!ok) return make_error("Cache values contain invalid characters");
  return {};
}

// Writes the files section; every path is checked first.
Result<std::string> encode_files(const FileRecords& records) {
  std::string lines;
  for (const auto& [path, ids] : records) {
    if (ids.empty()) continue;
    if (!is_plain_value(path) || !is_plain_relative(path)) {
      return make_error("Cache values contain invalid characters");
    }
    lines += path;
    for (uint64_t id : ids) {
      lines += '\0';
      append_number(lines, id);
    }
    lines += '\n';
  }
  return lines;
}

void append_rule_line(std::string& out, uint64_t id, uint64_t attribute, uint64_t selector,
                      const std::vector<uint64_t>& at_rules) {
  append_number(out, id);
  out += '\0';
  append_number(out, attribute);
  out += '\0';
  append_number(out, selector);
  for (auto it = at_rules.rbegin(); it != at_rules.rend(); ++it) {
    out += '\0';
    append_number(out, *it);
  }
  out += '\n';
}

// The text under `number`, or `missing_message`.
Result<std::string> lookup_text(const std::map<uint64_t, std::string>& table, uint64_t number,
                                const char* missing_message) {
  auto found = table.find(number);
  if (found == table.end()) return make_error(missing_message);
  return found->second;
}

// Every ID the records use, ascending. IDs are handed out from 1 upwards,
// so nearly all are marked in a flat table; larger ones are sorted apart.
std::vector<uint64_t> used_ids(const FileRecords& records) {
  size_t references = 0;
  for (const auto& [path, ids] : records) references += ids.size();
  std::vector<bool> marked(references + 1024, false);
  std::vector<uint64_t> large;
  for (const auto& [path, ids] : records) {
    for (uint64_t id : ids) {
      if (id < marked.size()) {
        marked[id] = true;
      } else {
        large.push_back(id);
      }
    }
  }
  std::vector<uint64_t> used;
  for (size_t id = 0; id < marked.size(); ++id) {
    if (marked[id]) used.push_back(id);
  }
  std::sort(large.begin(), large.end());
  large.erase(std::unique(large.begin(), large.end()), large.end());
  used.insert(used.end(), large.begin(), large.end());
  return used;
}

}  // namespace

Result<DecodedCache> decode_cache(std::string_view bytes) {
  Decoder decoder;
  size_t start = 0;
  while (start < bytes.size()) {
    const void* found = std::memchr(bytes.data() + start, '\n', bytes.size() - start);
    const size_t end = found == nullptr
                           ? bytes.size()
                           : static_cast<size_t>(static_cast<const char*>(found) - bytes.data());
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ZV_TRY_STATUS(decoder.take_line(line));
    start = end + 1;
  }
  return decoder.finish();
}

Result<std::string> encode_cache(const Registry& registry, const FileRecords& records) {
  ZV_TRY(std::string file_lines, encode_files(records));
  const std::vector<uint64_t> used = used_ids(records);
  TextSection attributes, selectors, at_rules;
  std::string rule_lines;
  for (uint64_t id : used) {
    ZV_TRY(const Rule* rule, get_rule(registry, id));
    ZV_TRY_STATUS(check_rule_texts(*rule));
    uint64_t attribute = attributes.number_of(rule->declaration);
    uint64_t selector = selectors.number_of(rule->selector);
    std::vector<uint64_t> at_rule_numbers;
    for (const std::string& at_rule : rule->at_rules) {
      at_rule_numbers.push_back(at_rules.number_of(at_rule));
    }
    append_rule_line(rule_lines, id, attribute, selector, at_rule_numbers);
  }
  std::string out = std::move(file_lines);
  for (const TextSection* section : {&attributes, &selectors, &at_rules}) {
    out += kSeparatorLine;
    out += section->lines();
  }
  out += kSeparatorLine;
  out += rule_lines;
  return out;
}

Result<Rule> rule_from_cache(const DecodedCache& cache, uint64_t id) {
  auto entry = cache.rules.find(id);
  if (entry == cache.rules.end()) return make_error("Missing cache rule");
  ZV_TRY(std::string declaration,
         lookup_text(cache.attributes, entry->second.attribute, "Missing cache attribute"));
  std::string selector;
  if (entry->second.selector != 0) {
    ZV_TRY(selector,
           lookup_text(cache.selectors, entry->second.selector, "Missing cache selector"));
  }
  std::vector<std::string> at_rules;
  at_rules.reserve(entry->second.at_rules.size());
  for (uint64_t number : entry->second.at_rules) {
    ZV_TRY(std::string at_rule, lookup_text(cache.at_rules, number, "Missing cache at-rule"));
    at_rules.push_back(std::move(at_rule));
  }
  return make_rule(std::move(at_rules), std::move(selector), std::move(declaration));
}

}  // namespace zeviziz
