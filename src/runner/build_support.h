// The pure pieces of a build: the texts it writes besides rendered templates
// (class lists, the signal text, placeholder substitution) and the decision
// whether the per-file records, the CSS and the cache must be produced again.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "config/config.h"
#include "css/registry.h"
#include "fs/file_ops.h"
#include "fs/scan.h"
#include "lexer/node.h"
#include "state/cache.h"

namespace zeviziz {

// One file processed by a build, in file-list order.
struct FileRecord {
  std::string path;  // template path (relative to in_directory, "/"-separated)
  Path source_path;
  Path output_path;
  FileTime source_time = 0;           // the scan's last-write time of the source
  std::optional<std::string> output;  // rendered text; absent for a copied file
  IdList class_ids;                   // IDs the output uses, ascending (none for plain files)
  std::vector<std::string> warnings;  // warning lines of its compile, in text order
};

// Returns the decimal text of `seconds` ("0" for a clock before 1970).
std::string time_text(int64_t seconds);

// Returns the time text of the current wall-clock second.
std::string time_text_now();

// Replaces every occurrence of `from` in `text` by `to`, left to right and
// non-overlapping. An empty `from` leaves the text unchanged.
void replace_all(std::string& text, std::string_view from, std::string_view to);

// Largest text that replacements may make of a template of `input_size`
// bytes: 16 times its size plus 1 MiB.
size_t replacement_limit(size_t input_size);

// Applies the configured replacement pairs in order, then replaces every
// "VELT_TIME" by `time`. Fails, before building the text, when a pair would
// make the text larger than replacement_limit() of its original size:
// "Replacement makes the template too large (over 16 times its size plus 1
// MiB): " + the pair's first text ("VELT_TIME" for the time). The text is
// then partly replaced.
Status apply_replacements(std::string& text,
                          const std::vector<std::pair<std::string, std::string>>& replacements,
                          std::string_view time);

// Appends the class list of `ids` to `out`: "i" + ID for each ID in order of
// first appearance, each at most once, separated by one space.
void append_class_list(std::string& out, std::span<const uint64_t> ids);

// Returns the signal text: `time` alone when `content` is empty; otherwise
// `content` with "VELT_TIME" replaced by `time` and then "VELT_PATHS" by the
// processed paths followed by the removed ones, joined by line feeds.
std::string signal_text(std::string_view content, std::string_view time,
                        std::span<const std::string> processed,
                        std::span<const std::string> removed);

// The class IDs used by a set of per-file records, with the number of
// records that use each, so that the IDs of all records but a few can be
// found without walking every record again.
class IdUsage {
 public:
  // Counts the IDs of every record.
  explicit IdUsage(const FileRecords& records);

  // Forgets the IDs of the record of `path`, if `records` holds one. Each
  // path must be dropped at most once.
  void drop(const FileRecords& records, const std::string& path);

  // Returns the IDs used by at least one remaining record, ascending.
  IdSet ids() const;

 private:
  uint32_t& count_of(uint64_t id);

  // Counts indexed by ID for the IDs below dense_.size() (class IDs are
  // handed out from 1 upwards, so nearly all of them are small), and a hash
  // table for the rest.
  std::vector<uint32_t> dense_;
  std::unordered_map<uint64_t, uint32_t> sparse_;
};

// What a build regenerates, decided after all files were compiled.
struct RebuildPlan {
  // IDs of the previous records of untouched paths plus the IDs of the new
  // records.
  IdSet used_now;
  // The per-file records (and so the cache file) must be written again.
  bool records = false;
  // The CSS file must be written again.
  bool css = false;
};

// Decides what to regenerate. `untouched_used` holds the IDs of the previous
// records whose paths the build did not touch. Records are rebuilt when
// `fresh` or `force_css`, when the used IDs changed, when a removed path had
// a record, or when a processed file's ID set differs from its previous
// record (no record counts as the empty set). CSS is regenerated when
// `fresh`, `force_css` or the used IDs changed. A fresh build disregards the
// previous records, since it starts from an empty registry.
RebuildPlan plan_rebuild(const FileRecords& previous, const IdSet& previous_used,
                         const IdSet& untouched_used, std::span<const FileRecord> processed,
                         std::span<const RemovedFile> removed, bool fresh, bool force_css);

// What apply_record_changes replaced, to put it back.
struct RecordsUndo {
  std::optional<FileRecords> all;  // the whole previous table (fresh builds)
  std::vector<std::pair<std::string, std::optional<IdList>>> entries;
};

// Turns `records` into the records for the next build, in place: all of them
// dropped when `fresh`, removed paths dropped, and each processed file's
// record replaced by its new IDs (a file that uses no ID has no record).
// Returns what is needed to undo the change.
RecordsUndo apply_record_changes(FileRecords& records, std::span<const FileRecord> processed,
                                 std::span<const RemovedFile> removed, bool fresh);

// Restores `records` to what it was before apply_record_changes.
void undo_record_changes(FileRecords& records, RecordsUndo undo);

// The configured at-rule lists, media ranges normalised where possible, in
// configuration order: they fix the order of at-rule blocks in the CSS.
std::vector<std::vector<std::string>> at_rule_order(const ProjectConfig& config);

// Flattens a processed style region into one Rule per selector alternative
// and declaration, in order, appending them to `rules`. Fails with the first
// normalisation or rule construction error.
Status region_rules(const Node& region, std::vector<Rule>& rules);

}  // namespace zeviziz
