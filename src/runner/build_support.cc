// Pure helpers of the build pipeline: time text, placeholder substitution,
// class lists, the signal text, and the decision what a build regenerates.
// None of them touches the file system; the pipeline (build.cc) calls them
// between compiling and writing.
#include "runner/build_support.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <unordered_set>

#include "css/media.h"
#include "log/log.h"
#include "normalize/normalize.h"

namespace zeviziz {

std::string time_text(int64_t seconds) {
  return seconds < 0 ? std::string("0") : std::to_string(seconds);
}

std::string time_text_now() {
  return std::to_string(unix_seconds_now());
}

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  size_t pos = text.find(from);
  if (pos == std::string::npos) return;
  std::string out;
  out.reserve(text.size());
  size_t start = 0;
  while (pos != std::string::npos) {
    out.append(text, start, pos - start);
    out.append(to);
    start = pos + from.size();
    pos = text.find(from, start);
  }
  out.append(text, start, std::string::npos);
  text = std::move(out);
}

size_t replacement_limit(size_t input_size) {
  constexpr size_t kFactor = 16;
  constexpr size_t kAllowance = size_t{1} << 20;
  if (input_size > (SIZE_MAX - kAllowance) / kFactor) return SIZE_MAX;
  return input_size * kFactor + kAllowance;
}

namespace {

// The size of `text` after replacing every `from` by `to`, counted without
// building it; saturates at SIZE_MAX.
size_t replaced_size(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty() || to.size() <= from.size()) return text.size();
  const size_t growth = to.size() - from.size();
  size_t size = text.size();
  for (size_t pos = text.find(from); pos != std::string_view::npos;
       pos = text.find(from, pos + from.size())) {
    if (size > SIZE_MAX - growth) return SIZE_MAX;
    size += growth;
  }
  return size;
}

// Replaces every `from` by `to` unless that makes `text` exceed `limit`.
Status bounded_replace(std::string& text, std::string_view from, std::string_view to,
                       size_t limit) {
  if (replaced_size(text, from, to) > limit) {
    return make_error(
        "Replacement makes the template too large (over 16 times its size plus 1 MiB): " +
        std::string(from));
  }
  replace_all(text, from, to);
  return {};
}

}  // namespace

Status apply_replacements(std::string& text,
                          const std::vector<std::pair<std::string, std::string>>& replacements,
                          std::string_view time) {
  // Each pair runs over the output of the previous ones, so a chain of pairs
  // can grow the text exponentially; the limit stops it before it is built.
  const size_t limit = replacement_limit(text.size());
  for (const auto& [from, to] : replacements) {
    ZV_TRY_STATUS(bounded_replace(text, from, to, limit));
  }
  return bounded_replace(text, "VELT_TIME", time, limit);
}

void append_class_list(std::string& out, std::span<const uint64_t> ids) {
  // Blocks are short, so a linear look-back is cheapest; long ones use a set
  // to stay linear.
  constexpr size_t kLinearLimit = 16;
  std::unordered_set<uint64_t> seen_ids;
  bool first = true;
  for (size_t i = 0; i < ids.size(); ++i) {
    bool seen = false;
    if (ids.size() <= kLinearLimit) {
      for (size_t j = 0; j < i && !seen; ++j) seen = ids[j] == ids[i];
    } else {
      seen = !seen_ids.insert(ids[i]).second;
    }
    if (seen) continue;
    if (!first) out.push_back(' ');
    out.push_back('i');
    out.append(std::to_string(ids[i]));
    first = false;
  }
}

std::string signal_text(std::string_view content, std::string_view time,
                        std::span<const std::string> processed,
                        std::span<const std::string> removed) {
  if (content.empty()) return std::string(time);
  std::string paths;
  for (const std::string& path : processed) (paths.empty() ? paths : paths += '\n') += path;
  for (const std::string& path : removed) (paths.empty() ? paths : paths += '\n') += path;
  std::string text(content);
  replace_all(text, "VELT_TIME", time);
  replace_all(text, "VELT_PATHS", paths);
  return text;
}

IdUsage::IdUsage(const FileRecords& records) {
  size_t references = 0;
  for (const auto& [path, ids] : records) references += ids.size();
  // A flat table as large as the references allow; larger IDs go to the
  // hash table.
  dense_.assign(references + 1024, 0);
  for (const auto& [path, ids] : records) {
    for (uint64_t id : ids) ++count_of(id);
  }
}

uint32_t& IdUsage::count_of(uint64_t id) {
  if (id < dense_.size()) return dense_[id];
  return sparse_[id];
}

void IdUsage::drop(const FileRecords& records, const std::string& path) {
  auto record = records.find(path);
  if (record == records.end()) return;
  for (uint64_t id : record->second) {
    if (id < dense_.size()) {
      if (dense_[id] > 0) --dense_[id];
      continue;
    }
    auto count = sparse_.find(id);
    if (count != sparse_.end() && --count->second == 0) sparse_.erase(count);
  }
}

IdSet IdUsage::ids() const {
  IdSet ids;
  for (size_t id = 0; id < dense_.size(); ++id) {
    if (dense_[id] > 0) ids.push_back(id);
  }
  const size_t dense_end = ids.size();
  for (const auto& [id, count] : sparse_) ids.push_back(id);
  std::sort(ids.begin() + static_cast<std::ptrdiff_t>(dense_end), ids.end());
  return ids;
}

namespace {

// True when some processed file's IDs differ from its previous record.
bool processed_ids_changed(const FileRecords& previous, std::span<const FileRecord> processed) {
  for (const FileRecord& record : processed) {
    auto found = previous.find(record.path);
    if (found == previous.end() ? !record.class_ids.empty()
                                : !std::ranges::equal(found->second, record.class_ids)) {
      return true;
    }
  }
  return false;
}

bool removed_had_record(const FileRecords& previous, std::span<const RemovedFile> removed) {
  for (const RemovedFile& file : removed) {
    if (previous.contains(file.path)) return true;
  }
  return false;
}

// Remembers the current entry of `path` once, before its first change.
void save_entry(const FileRecords& records, const std::string& path, RecordsUndo& undo,
                std::unordered_set<std::string_view>& saved) {
  if (undo.all || !saved.insert(path).second) return;
  auto found = records.find(path);
  undo.entries.emplace_back(
      path, found == records.end() ? std::nullopt : std::optional<IdList>(found->second));
}

}  // namespace

RebuildPlan plan_rebuild(const FileRecords& previous, const IdSet& previous_used,
                         const IdSet& untouched_used, std::span<const FileRecord> processed,
                         std::span<const RemovedFile> removed, bool fresh, bool force_css) {
  RebuildPlan plan;
  IdSet added;
  for (const FileRecord& record : processed) {
    added.insert(added.end(), record.class_ids.begin(), record.class_ids.end());
  }
  std::sort(added.begin(), added.end());
  added.erase(std::unique(added.begin(), added.end()), added.end());
  if (fresh) {
    plan.used_now = std::move(added);
  } else {
    plan.used_now.reserve(untouched_used.size() + added.size());
    std::set_union(untouched_used.begin(), untouched_used.end(), added.begin(), added.end(),
                   std::back_inserter(plan.used_now));
  }
  plan.css = fresh || force_css || plan.used_now != previous_used;
  plan.records = plan.css || (!fresh && removed_had_record(previous, removed)) ||
                 processed_ids_changed(fresh ? FileRecords{} : previous, processed);
  return plan;
}

RecordsUndo apply_record_changes(FileRecords& records, std::span<const FileRecord> processed,
                                 std::span<const RemovedFile> removed, bool fresh) {
  RecordsUndo undo;
  if (fresh) undo.all = std::exchange(records, FileRecords{});
  std::unordered_set<std::string_view> saved;
  for (const RemovedFile& file : removed) {
    save_entry(records, file.path, undo, saved);
    records.erase(file.path);
  }
  for (const FileRecord& record : processed) {
    save_entry(records, record.path, undo, saved);
    if (record.class_ids.empty()) {
      records.erase(record.path);
    } else {
      records[record.path] = IdList(record.class_ids.begin(), record.class_ids.end());
    }
  }
  return undo;
}

void undo_record_changes(FileRecords& records, RecordsUndo undo) {
  if (undo.all) {
    records = std::move(*undo.all);
    return;
  }
  for (auto& [path, ids] : undo.entries) {
    if (ids) {
      records[path] = std::move(*ids);
    } else {
      records.erase(path);
    }
  }
}

std::vector<std::vector<std::string>> at_rule_order(const ProjectConfig& config) {
  std::vector<std::vector<std::string>> order;
  for (const DirectiveDef& directive : config.directives) {
    for (const DirectiveCase& c : directive.cases) {
      if (c.action != DirectiveAction::AtRule || c.at_rules.empty()) continue;
      Result<NormalizedAtRules> normalized = normalize_at_rules(c.at_rules);
      order.push_back(normalized.ok() ? std::move(normalized->at_rules) : c.at_rules);
    }
  }
  return order;
}

Status region_rules(const Node& region, std::vector<Rule>& rules) {
  ZV_TRY(std::vector<NormalizedRule> flat, normalize_region(region));
  for (const NormalizedRule& rule : flat) {
    for (const std::string& alternative : split_top_level(rule.selector)) {
      for (const auto& [property, value] : rule.declarations) {
        ZV_TRY(Rule built, make_rule(rule.at_rules, alternative, property + ":" + value));
        rules.push_back(std::move(built));
      }
    }
  }
  return {};
}

}  // namespace zeviziz
