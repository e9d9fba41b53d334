// Pure helpers of the build pipeline: time text, placeholder substitution,
// class lists, the signal text, and the decision what a build regenerates.
// None of them touches the file system; the pipeline (build.cc) calls them
// between compiling and writing.
#include "runner/build_support.h"

#include <unordered_set>

#include "log/log.h"

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

void apply_replacements(std::string& text,
                        const std::vector<std::pair<std::string, std::string>>& replacements,
                        std::string_view time) {
  for (const auto& [from, to] : replacements) replace_all(text, from, to);
  replace_all(text, "VELT_TIME", time);
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

namespace {

// The paths a build touches: every processed and every removed path.
std::unordered_set<std::string_view> touched_paths(std::span<const FileRecord> processed,
                                                   std::span<const RemovedFile> removed) {
  std::unordered_set<std::string_view> touched;
  touched.reserve(processed.size() + removed.size());
  for (const FileRecord& record : processed) touched.insert(record.path);
  for (const RemovedFile& file : removed) touched.insert(file.path);
  return touched;
}

// True when some processed file's IDs differ from its previous record.
bool processed_ids_changed(const FileRecords& previous, std::span<const FileRecord> processed) {
  for (const FileRecord& record : processed) {
    auto found = previous.find(record.path);
    if (found == previous.end() ? !record.class_ids.empty() : found->second != record.class_ids) {
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

}  // namespace

RebuildPlan plan_rebuild(const FileRecords& previous, const std::set<uint64_t>& previous_used,
                         std::span<const FileRecord> processed,
                         std::span<const RemovedFile> removed, bool fresh, bool force_css) {
  RebuildPlan plan;
  if (!fresh) {
    std::unordered_set<std::string_view> touched = touched_paths(processed, removed);
    for (const auto& [path, ids] : previous) {
      if (!touched.contains(path)) plan.used_now.insert(ids.begin(), ids.end());
    }
  }
  for (const FileRecord& record : processed) {
    plan.used_now.insert(record.class_ids.begin(), record.class_ids.end());
  }
  plan.css = fresh || force_css || plan.used_now != previous_used;
  plan.records = plan.css || (!fresh && removed_had_record(previous, removed)) ||
                 processed_ids_changed(fresh ? FileRecords{} : previous, processed);
  return plan;
}

FileRecords rebuild_records(FileRecords previous, std::span<const FileRecord> processed,
                            std::span<const RemovedFile> removed, bool fresh) {
  if (fresh) previous.clear();
  for (const RemovedFile& file : removed) previous.erase(file.path);
  for (const FileRecord& record : processed) {
    if (record.class_ids.empty()) {
      previous.erase(record.path);
    } else {
      previous[record.path] = record.class_ids;
    }
  }
  return previous;
}

std::set<uint64_t> collect_used_ids(const FileRecords& records) {
  std::set<uint64_t> used;
  for (const auto& [path, ids] : records) used.insert(ids.begin(), ids.end());
  return used;
}

}  // namespace zeviziz
