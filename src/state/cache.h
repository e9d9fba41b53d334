// The cache file: a line-based text that carries the class registry and the
// per-file rule numbers from one run to the next. Five sections (files,
// attributes, selectors, at-rules, rules), fields separated by NUL, the first
// four sections each closed by a line holding one NUL.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
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

// Per-file class IDs of a build: template path -> ascending set of IDs.
using FileRecords = std::map<std::string, IdList>;

// Per-file rule numbers held in three flat arrays, in the order added.
class FileTable {
 public:
  // Makes room for paths of `path_bytes` bytes and `ids` numbers in all, or
  // gives back what is not used.
  void reserve(size_t path_bytes, size_t ids);
  void shrink();
  // Adds `path` with its numbers.
  void add(std::string_view path, std::span<const uint64_t> ids);
  size_t size() const { return files_.size(); }
  std::string_view path(size_t index) const;
  std::span<const uint64_t> ids(size_t index) const;
  // Every number of every file, file after file.
  const std::vector<uint64_t>& all_ids() const { return ids_; }
  // The numbers of `path` when the paths ascend; empty when it has none.
  std::span<const uint64_t> find(std::string_view path) const;
  // The same table in path order (a copy).
  FileTable sorted() const;
  FileRecords to_records() const;

 private:
  struct File {
    size_t path_end;  // in paths_; a path starts where the one before ends
    size_t ids_end;   // in ids_
  };

  std::string paths_;
  std::vector<uint64_t> ids_;
  std::vector<File> files_;
};

// The five tables of a decoded cache.
struct DecodedCache {
  FileTable files;  // template path -> rule numbers, paths ascending
  std::map<uint64_t, std::string> attributes;
  std::map<uint64_t, std::string> selectors;  // may hold NUL (the class placeholder)
  std::map<uint64_t, std::string> at_rules;
  std::map<uint64_t, CacheRule> rules;  // rule number = class ID
};

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
