// The cache file: a line-based text that carries the class registry and the
// per-file rule numbers from one run to the next. Five sections (files,
// attributes, selectors, at-rules, rules), fields separated by NUL, the first
// four sections each closed by a line holding one NUL.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "css/registry.h"

namespace zeviziz {

// One rule line: numbers into the text sections of the same cache.
struct CacheRule {
  uint64_t attribute = 0;          // at least 1
  uint64_t selector = 0;           // 0 for no selector
  std::vector<uint64_t> at_rules;  // outermost first
};

// Rule numbers of one file: ascending, no duplicates. A flat list rather than
// a tree set, so restoring a large cache costs no allocation per reference.
using IdList = std::vector<uint64_t>;

// The five tables of a decoded cache.
struct DecodedCache {
  std::map<std::string, IdList> files;  // template path -> rule numbers
  std::map<uint64_t, std::string> attributes;
  std::map<uint64_t, std::string> selectors;  // may hold NUL (the class placeholder)
  std::map<uint64_t, std::string> at_rules;
  std::map<uint64_t, CacheRule> rules;  // rule number = class ID
};

// Per-file class IDs of a build: template path -> ascending set of IDs.
using FileRecords = std::map<std::string, IdList>;

// Decodes cache bytes (a carriage return before a line feed is dropped).
// Fails with one of "Too many cache sections", "Missing cache section",
// "Invalid cache file record", "Invalid cache attribute record", "Invalid
// cache selector record", "Invalid cache at-rule record", "Invalid cache rule
// record", "Invalid cache number", "Missing cache attribute", "Missing cache
// selector", "Missing cache at-rule", "Missing cache rule", "Duplicate cache
// rule", or "Expected a relative path inside in_directory: " + path. The
// caller puts "Invalid cache " + display path + ": " in front.
Result<DecodedCache> decode_cache(std::string_view bytes);

// Encodes `records` (files without IDs get no line) and the registry rules
// they use, text numbers given in order of first use over ascending rule
// numbers. Fails with "Missing registry rule" when a record names an ID the
// registry lacks, or "Cache values contain invalid characters" when a path,
// declaration or at-rule holds NUL, CR or LF (or is empty), or a selector
// holds CR or LF.
Result<std::string> encode_cache(const Registry& registry, const FileRecords& records);

// Builds the Rule of rule number `id` from its texts; fails with the rule
// construction's message (media ranges that do not overlap).
Result<Rule> rule_from_cache(const DecodedCache& cache, uint64_t id);

}  // namespace zeviziz
