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
#include <unordered_set>
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
  // `size` (the cache's size) bounds the number of file IDs from above.
  explicit Decoder(size_t size) { cache_.files.reserve(size / 2, size / 4); }

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
    ZV_TRY_STATUS(check_file_rules());
    if (unordered_) cache_.files = cache_.files.sorted();
    cache_.files.shrink();
    return std::move(cache_);
  }

 private:
  // Fails with "Missing cache rule" when a file names a rule number without
  // a rule line. Rule numbers are class IDs, handed out from 1 upwards, so
  // they are nearly always marked in a flat table; the others are searched.
  Status check_file_rules() const {
    std::vector<uint8_t> marked(2 * cache_.rules.size() + 1024, 0);
    std::vector<uint64_t> large;
    for (const auto& entry : cache_.rules) {
      if (entry.first < marked.size()) {
        marked[entry.first] = 1;
      } else {
        large.push_back(entry.first);
      }
    }
    for (uint64_t number : cache_.files.all_ids()) {
      const bool known = number < marked.size()
                             ? marked[number]
                             : std::binary_search(large.begin(), large.end(), number);
      if (!known) return make_error("Missing cache rule");
    }
    return {};
  }

  // The path, then one or more non-empty number fields.
  static bool well_formed_file_line(std::string_view line) {
    const size_t nul = line.find('\0');
    if (nul == std::string_view::npos) return false;
    const std::string_view numbers = line.substr(nul + 1);
    return !numbers.empty() && numbers.front() != '\0' && numbers.back() != '\0' &&
           numbers.find(std::string_view("\0\0", 2)) == std::string_view::npos;
  }

  // Reads the numbers after the path in one pass into `scratch_`; false for
  // anything but plain decimal fields of at most 19 digits (which cannot
  // overflow), so that the exact message comes from the checking path.
  bool quick_numbers(std::string_view numbers) {
    scratch_.clear();
    ascending_ = true;
    const char* at = numbers.data();
    const char* const end = at + numbers.size();
    if (at == end) return false;
    while (true) {
      const char* const start = at;
      uint64_t value = 0;
      for (; at != end && *at != '\0'; ++at) {
        const unsigned digit = static_cast<unsigned char>(*at) - '0';
        if (digit > 9) return false;
        value = value * 10 + digit;
      }
      if (at == start || at - start > 19) return false;
      if (!scratch_.empty() && scratch_.back() >= value) ascending_ = false;
      scratch_.push_back(value);
      if (at == end) return true;
      ++at;
    }
  }

  // The ascending, duplicate-free numbers of `scratch_`, the first non-zero.
  bool order_numbers() {
    if (!ascending_) {
      std::sort(scratch_.begin(), scratch_.end());
      scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
    }
    return scratch_.front() != 0;
  }

  Status file_line(std::string_view line) {
    const size_t nul = line.find('\0');
    if (nul != std::string_view::npos && quick_numbers(line.substr(nul + 1))) {
      const std::string_view path = line.substr(0, nul);
      ZV_TRY_STATUS(check_plain_relative(path));
      return add_file(path);
    }
    return checked_file_line(line);
  }

  // Paths normally ascend; only when one does not are the paths collected
  // to find duplicates, and the table is sorted at the end.
  Status add_file(std::string_view path) {
    if (!order_numbers()) return make_error("Invalid cache file record");
    const size_t count = cache_.files.size();
    if (!unordered_ && count > 0 && !(cache_.files.path(count - 1) < path)) {
      for (size_t i = 0; i < count; ++i) seen_.emplace(cache_.files.path(i));
      unordered_ = true;
    }
    if (unordered_ && !seen_.emplace(path).second) return make_error("Invalid cache file record");
    cache_.files.add(path, scratch_);
    return {};
  }

  // The file line read field by field, for the message of a faulty line.
  Status checked_file_line(std::string_view line) {
    if (!well_formed_file_line(line)) return make_error("Invalid cache file record");
    Fields fields(line);
    std::string_view path;
    fields.next(path);
    ZV_TRY_STATUS(check_plain_relative(path));
    scratch_.clear();
    std::string_view field;
    while (fields.next(field)) {
      ZV_TRY(uint64_t number, parse_number(field));
      scratch_.push_back(number);
    }
    ascending_ = false;
    return add_file(path);
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
  bool ascending_ = false;         // scratch_ is known to ascend strictly
  std::unordered_set<std::string> seen_;
  bool unordered_ = false;
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
// writes their lines. A section is indexed either by text (at-rules, few) or
// by the registry catalog's number of the text (declarations and selectors,
// one per rule at worst), which a flat table holds in 4 bytes a text.
class TextSection {
 public:
  // Returns the text's number, entering it when new; "" stands as 0.
  uint64_t number_of(std::string_view text) {
    if (text.empty()) return 0;
    auto [slot, inserted] = by_text_.try_emplace(text, count_ + 1);
    if (inserted) enter(text);
    return slot->second;
  }
  // The same for a text known by its number in the registry's catalog.
  uint64_t number_of(uint32_t catalog_number, std::string_view text) {
    if (text.empty()) return 0;
    if (catalog_number >= by_catalog_.size()) by_catalog_.resize(catalog_number + 1, 0);
    uint32_t& slot = by_catalog_[catalog_number];
    if (slot == 0) slot = enter(text);
    return slot;
  }
  const std::string& lines() const { return lines_; }
  // Frees the lines and the indexes; the section is empty afterwards.
  void release() {
    std::string().swap(lines_);
    std::unordered_map<std::string_view, uint64_t>().swap(by_text_);
    std::vector<uint32_t>().swap(by_catalog_);
  }

 private:
  uint32_t enter(std::string_view text) {
    ++count_;
    append_number(lines_, count_);
    lines_ += '\0';
    lines_ += text;
    lines_ += '\n';
    return count_;
  }

  uint32_t count_ = 0;
  std::unordered_map<std::string_view, uint64_t> by_text_;  // views into the registry
  std::vector<uint32_t> by_catalog_;  // catalog number -> section number, 0 = not yet
  std::string lines_;
};

Status check_rule_texts(const RuleView& rule) {
  bool ok = is_plain_value(rule.declaration) && !has_line_break(rule.selector) &&
            std::all_of(rule.at_rules->texts.begin(), rule.at_rules->texts.end(),
                        [](std::string_view at_rule) { return is_plain_value(at_rule); });
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

void FileTable::reserve(size_t path_bytes, size_t ids) {
  paths_.reserve(path_bytes);
  ids_.reserve(ids);
}

void FileTable::shrink() {
  paths_.shrink_to_fit();
  ids_.shrink_to_fit();
  files_.shrink_to_fit();
}

void FileTable::add(std::string_view path, std::span<const uint64_t> ids) {
  paths_ += path;
  ids_.insert(ids_.end(), ids.begin(), ids.end());
  files_.push_back(File{paths_.size(), ids_.size()});
}

std::string_view FileTable::path(size_t index) const {
  const size_t start = index == 0 ? 0 : files_[index - 1].path_end;
  return std::string_view(paths_).substr(start, files_[index].path_end - start);
}

std::span<const uint64_t> FileTable::ids(size_t index) const {
  const size_t start = index == 0 ? 0 : files_[index - 1].ids_end;
  return std::span<const uint64_t>(ids_).subspan(start, files_[index].ids_end - start);
}

std::span<const uint64_t> FileTable::find(std::string_view wanted) const {
  size_t low = 0;
  size_t high = files_.size();
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (path(middle) < wanted) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == files_.size() || path(low) != wanted) return {};
  return ids(low);
}

FileTable FileTable::sorted() const {
  std::vector<size_t> order(files_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [this](size_t a, size_t b) { return path(a) < path(b); });
  FileTable out;
  for (size_t index : order) out.add(path(index), ids(index));
  return out;
}

FileRecords FileTable::to_records() const {
  FileRecords records;
  for (size_t i = 0; i < files_.size(); ++i) {
    const std::span<const uint64_t> list = ids(i);
    records.emplace_hint(records.end(), std::string(path(i)), IdList(list.begin(), list.end()));
  }
  return records;
}

Result<DecodedCache> decode_cache(std::string_view bytes) {
  Decoder decoder(bytes.size());
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
  std::vector<uint64_t> at_rule_numbers;
  for (uint64_t id : used) {
    const RuleKey* key = rule_key(registry, id);
    ZV_TRY(RuleView rule, get_rule(registry, id));
    ZV_TRY_STATUS(check_rule_texts(rule));
    uint64_t attribute = attributes.number_of(key->declaration, rule.declaration);
    uint64_t selector = selectors.number_of(key->selector, rule.selector);
    at_rule_numbers.clear();
    for (std::string_view at_rule : rule.at_rules->texts) {
      at_rule_numbers.push_back(at_rules.number_of(at_rule));
    }
    append_rule_line(rule_lines, id, attribute, selector, at_rule_numbers);
  }
  // The file is sized once and each part is freed as soon as it is copied,
  // so a large cache is not held two or three times over while it grows.
  const std::string_view separator = kSeparatorLine;
  size_t size = file_lines.size() + 4 * separator.size() + rule_lines.size();
  for (const TextSection* section : {&attributes, &selectors, &at_rules}) {
    size += section->lines().size();
  }
  std::string out;
  out.reserve(size);
  out += file_lines;
  std::string().swap(file_lines);
  for (TextSection* section : {&attributes, &selectors, &at_rules}) {
    out += separator;
    out += section->lines();
    section->release();
  }
  out += separator;
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
