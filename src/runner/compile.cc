// The compile stage of a build, in two halves. The first half turns one
// template file into a CompiledFile without touching anything shared: it
// reads and substitutes the text, builds the file's ID history, compiles and
// processes the tree, and flattens every processed region into finished
// rules; its log lines are held back. Any number of worker threads run it,
// each taking the next template file of the list. The second half runs on
// the calling thread in file-list order: it claims the output path, writes
// the held log lines, numbers the rules in the registry and renders the
// class lists; the first error stops it and the workers. The warnings of
// the files it reached are printed in list order, also when a file failed.
// Because everything order-dependent happens in the second half, the
// outputs, the registry, the log lines (apart from durations) and the
// warnings are the same for any thread count.
#include "runner/compile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "directive/service.h"
#include "log/log.h"
#include "normalize/normalize.h"
#include "runner/warnings.h"
#include "template/compile.h"

namespace zeviziz {
namespace {

using Clock = std::chrono::steady_clock;

using RuleList = std::vector<Rule>;

// The rules of regions whose result does not depend on the file they are
// in, by template kind and region text, shared by the worker threads of one
// build. Only regions that processed without any error are kept, so a
// region that fails is processed again in every file.
class RegionCache {
 public:
  std::shared_ptr<const RuleList> find(const TemplateDef* kind, const std::string& text) const {
    std::shared_lock lock(mutex_);
    auto found = entries_.find(Key{kind, text});
    return found == entries_.end() ? nullptr : found->second;
  }

  // Keeps the rules unless the cache is full: most regions of a project are
  // unique, so an unbounded cache would hold every region's rules until the
  // build ends, while the regions that repeat tend to be met early.
  void add(const TemplateDef* kind, std::string text, std::shared_ptr<const RuleList> rules) {
    std::unique_lock lock(mutex_);
    if (entries_.size() >= kMaxEntries) return;
    entries_.try_emplace(Key{kind, std::move(text)}, std::move(rules));
  }

 private:
  struct Key {
    const TemplateDef* kind;
    std::string text;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& key) const {
      return std::hash<std::string>()(key.text) ^ std::hash<const void*>()(key.kind);
    }
  };

  static constexpr size_t kMaxEntries = 2048;

  mutable std::shared_mutex mutex_;
  std::unordered_map<Key, std::shared_ptr<const RuleList>, KeyHash> entries_;
};

// What every template file of one build is compiled with; made once per
// build and only read while files compile.
struct BuildTools {
  const ProjectConfig& config;
  const ReuseTable& reuse;
  std::optional<DirectiveService> service;
  std::optional<TemplateCompiler> compiler;
  std::string time;
  mutable RegionCache regions;
};

// One template file compiled as far as it can be without the registry.
struct CompiledFile {
  HeldLogLines log;
  Status read_error;  // reading failed; nothing else was done
  IdHistory history;
  Clock::duration compile_time{};
  std::vector<std::string> warnings;  // set once the file compiled
  // The output with a NUL byte where each region's class list goes (a
  // template cannot contain NUL, so the marks are unambiguous).
  std::string text;
  // The texts of the file's rules, each held once, and the rules as keys
  // into them: a rule repeated in the file costs a few bytes per use.
  RuleCatalog catalog;
  // The distinct rule lists of the regions one after another; list i is
  // rule_keys[list_ends[i - 1], list_ends[i]) (from 0 for the first). For
  // each region in order, the index of its list.
  std::vector<RuleKey> rule_keys;
  std::vector<uint32_t> list_ends;
  std::vector<uint32_t> regions;
  // The compile or rule error (path prefixed) that stopped the file after
  // the regions above.
  Status error;
};

// The template definition of each changed file, or null for a file that is
// copied (no definition, or one that needs no compiling).
std::vector<const TemplateDef*> template_kinds(const ProjectConfig& config,
                                               const std::vector<ChangedFile>& files) {
  std::unordered_map<const TemplateDef*, bool> compiled;
  std::vector<const TemplateDef*> kinds;
  kinds.reserve(files.size());
  for (const ChangedFile& file : files) {
    const TemplateDef* def = find_template_for_path(config, file.path);
    if (def != nullptr) {
      auto [entry, added] = compiled.try_emplace(def, false);
      if (added) entry->second = needs_compiling(config, *def);
      if (!entry->second) def = nullptr;
    }
    kinds.push_back(def);
  }
  return kinds;
}

// The comparison form of a path: lexically normal, "/"-separated.
std::string path_key(const Path& path) {
  return path.lexically_normal().generic_string();
}

// Detects two outputs of one build that name the same file, or an output
// that would overwrite the CSS, cache or signal file.
class OutputClaims {
 public:
  explicit OutputClaims(const ProjectConfig& config) {
    reserved_.insert(path_key(config.css_file));
    reserved_.insert(path_key(config.cache_file));
    if (config.signal_file) reserved_.insert(path_key(*config.signal_file));
    // The marker of a running write phase is removed when it ends.
    reserved_.insert(path_key(in_progress_marker(config)));
  }

  Status claim(const Path& output) {
    std::string key = path_key(output);
    if (reserved_.contains(key) || !claimed_.insert(std::move(key)).second) {
      return make_error("Template output conflicts with another output: " + display_path(output));
    }
    return {};
  }

 private:
  std::unordered_set<std::string> reserved_;
  std::unordered_set<std::string> claimed_;
};

// Task "cache.reuse": the IDs the file's rules had in the previous build.
IdHistory reuse_task(const ReuseTable& reuse, const std::string& path) {
  TaskGuard task = task_start("cache.reuse", path);
  return reuse_history(reuse, path);
}

// True when `region` has a use of a directive named in `names`.
bool uses_directive(const Node& region, std::initializer_list<std::string_view> names) {
  for (const Node& child : region.children) {
    if (child.kind != NodeKind::Directive) continue;
    for (const Node& part : child.children) {
      if (part.kind != NodeKind::Name) continue;
      for (std::string_view name : names) {
        if (part.value == name) return true;
      }
    }
  }
  return false;
}

// True when processing `region` depends on nothing but its text and the
// configuration: it uses neither `id` nor `copy`, which look at the other
// regions of its file.
bool independent_of_file(const Node& region) {
  return !uses_directive(region, {"id", "copy"});
}

// Processes one region of a file into its rules. Fails with the directive
// error when the region stays as its source text, `text`; sets `error` when
// flattening or building a rule fails.
Status process_region(const BuildTools& tools, const TemplateDef& def, const Node& region,
                      TemplateState& state, const std::string& text,
                      std::shared_ptr<const RuleList>& rules, Status& error) {
  const bool cacheable = independent_of_file(region);
  if (cacheable) {
    rules = tools.regions.find(&def, text);
    if (rules) return {};
  }
  ZV_TRY(Node processed, tools.service->process_region(region, tools.config, state));
  auto built = std::make_shared<RuleList>();
  error = region_rules(processed, *built);
  if (cacheable && error.ok()) tools.regions.add(&def, text, built);
  rules = std::move(built);
  return {};
}

// Turns the children of a file's "before" tree, handed over in order, into
// the output text and the regions' rules: every region is processed (or
// taken from the cache) with the file's directive state; a failing region
// stays as its text and is described in `faults`. After a flattening or rule
// error the remaining regions are still processed, for their faults, but
// give no rules.
class RegionCollector final : public RenderSink {
 public:
  RegionCollector(const BuildTools& tools, const TemplateDef& def, TemplateState& state,
                  const std::string& path, CompiledFile& out, std::vector<RegionFault>& faults)
      : tools_(tools), def_(def), state_(state), path_(path), out_(out), faults_(faults) {}

  void text(std::string& text) override { out_.text += text; }
  void child(Node&& child) override { add(child); }

  void add(const Node& child) {
    if (child.kind != NodeKind::Velt) {
      out_.text += child.value;
      return;
    }
    const std::string text = collect_text(child);
    std::shared_ptr<const RuleList> rules;
    Status status;
    state_.fault.reset();
    Status failed = process_region(tools_, def_, child, state_, text, rules, status);
    if (!failed.ok()) {
      RegionFault& fault = faults_.emplace_back(RegionFault{index_, 0, failed.error()});
      if (state_.fault) fault.offset = use_offset(child, state_.fault->use);
      if (state_.fault && !state_.fault->reason.empty()) fault.reason = state_.fault->reason;
      out_.text += text;
    } else if (out_.error.ok()) {
      out_.text.push_back('\0');
      out_.regions.push_back(list_index(std::move(rules)));
      if (!status.ok()) out_.error = prefix_error(path_ + ": ", status.take_error());
    }
    ++index_;
  }

 private:
  // Lists that the region cache shares (and keeps for the whole build) are
  // entered once; a list made for this region alone (held only here) needs
  // no lookup. The count only decides about sharing, never about the result.
  uint32_t list_index(std::shared_ptr<const RuleList> rules) {
    const auto next = static_cast<uint32_t>(out_.list_ends.size());
    if (rules.use_count() == 1) {
      enter_list(*rules);
      return next;
    }
    auto [found, added] = list_indices_.try_emplace(rules.get(), next);
    if (added) enter_list(*rules);
    return found->second;
  }

  // Appends `rules` as the next list, as keys into the file's catalog.
  void enter_list(const RuleList& rules) {
    for (const Rule& rule : rules) out_.rule_keys.push_back(out_.catalog.intern(rule));
    out_.list_ends.push_back(static_cast<uint32_t>(out_.rule_keys.size()));
  }

  const BuildTools& tools_;
  const TemplateDef& def_;
  TemplateState& state_;
  const std::string& path_;
  CompiledFile& out_;
  std::vector<RegionFault>& faults_;
  size_t index_ = 0;  // of the next region among the file's regions
  std::unordered_map<const RuleList*, uint32_t> list_indices_;
};

// Keeps, of the children handed to it, only the regions that use `id`: all
// the directive preparation looks at.
class IdRegions final : public RenderSink {
 public:
  void text(std::string&) override {}
  void child(Node&& child) override {
    if (child.kind == NodeKind::Velt && uses_directive(child, {"id"}))
      tree_.children.push_back(std::move(child));
  }
  const Node& tree() const { return tree_; }

 private:
  Node tree_{NodeKind::Template};
};

// Templates up to this size whose regions may use `id` are kept whole while
// their regions are processed, since `id` and `copy` need to know every
// region of the file before the first is processed. Larger ones are lexed
// twice, first to note the regions that use `id`, then to process each
// region as soon as it is made, so that memory stays within a small
// multiple of the text however densely it holds style regions.
constexpr size_t kWholeTreeLimit = size_t{1} << 20;

// Compiles `text` into the output text and regions of `out` (see
// RegionCollector), recording region offsets and lexer misses in `trace`.
// Fails with the compile error, before any region is processed.
Status collect_regions(const BuildTools& tools, const TemplateDef& def, std::string_view text,
                       const std::string& path, CompiledFile& out, std::vector<RegionFault>& faults,
                       LexTrace& trace) {
  // A use of `id` is written "!id", so without these bytes no region has one.
  const bool may_use_ids = text.find("!id") != std::string_view::npos;
  if (may_use_ids && text.size() <= kWholeTreeLimit) {
    ZV_TRY(Node before, tools.compiler->compile(text, def, &trace));
    TemplateState state = tools.service->prepare(before);
    RegionCollector collector(tools, def, state, path, out, faults);
    for (const Node& child : before.children) collector.add(child);
    return {};
  }
  TemplateState state;
  if (may_use_ids) {
    IdRegions ids;
    ZV_TRY_STATUS(tools.compiler->compile_each(text, def, ids));
    state = tools.service->prepare(ids.tree());
  } else {
    state = tools.service->prepare(Node(NodeKind::Template));
  }
  RegionCollector collector(tools, def, state, path, out, faults);
  return tools.compiler->compile_each(text, def, collector, &trace);
}

// The first half for one file: everything that does not need the registry.
void compile_file(const BuildTools& tools, const TemplateDef& def, const FileRecord& record,
                  CompiledFile& out) {
  HoldLogLines hold(out.log);
  Result<std::string> text = read_file(record.source_path);
  if (!text.ok()) {
    out.read_error = text.take_error();
    return;
  }
  // Warnings name places in the file as written.
  std::optional<std::string> written;
  if (may_replace(*text, tools.config.replacements)) written = *text;
  Status replaced = apply_replacements(*text, tools.config.replacements, tools.time);
  if (!replaced.ok()) {
    // Reported before the compile task starts, like a failed read.
    out.read_error = prefix_error(record.path + ": ", replaced.take_error());
    return;
  }
  out.history = reuse_task(tools.reuse, record.path);
  const Clock::time_point start = Clock::now();
  LexTrace trace;
  std::vector<RegionFault> faults;
  Status compiled = collect_regions(tools, def, *text, record.path, out, faults, trace);
  if (compiled.ok()) {
    out.warnings = file_warnings(record.path, *text, trace, faults, written ? &*written : nullptr,
                                 tools.config.replacements, tools.time);
  } else {
    out.error = prefix_error(record.path + ": ", compiled.take_error());
  }
  out.compile_time = Clock::now() - start;
}

// The second half for one file: numbers the rules in file order and renders
// the output with the class lists (task "template.compile", which counts the
// first half's compile time too).
Status finish_file(Registry& registry, CompiledFile& compiled, FileRecord& record) {
  write_held_lines(compiled.log);
  ZV_TRY_STATUS(std::move(compiled.read_error));
  TaskGuard task = task_start("template.compile", record.path);
  task.add_earlier(compiled.compile_time);
  record.warnings = std::move(compiled.warnings);
  std::string output;
  output.reserve(compiled.text.size() + compiled.regions.size() * 4);
  size_t copied = 0;
  std::vector<uint64_t> ids;
  for (uint32_t list : compiled.regions) {
    const size_t mark = compiled.text.find('\0', copied);
    output.append(compiled.text, copied, mark - copied);
    copied = mark + 1;
    ids.clear();
    const uint32_t begin = list == 0 ? 0 : compiled.list_ends[list - 1];
    for (uint32_t rule = begin; rule < compiled.list_ends[list]; ++rule) {
      const RuleView view = compiled.catalog.view(compiled.rule_keys[rule]);
      Result<uint64_t> id = lookup_or_assign(registry, view, compiled.history);
      if (!id.ok()) return prefix_error(record.path + ": ", id.take_error());
      ids.push_back(*id);
    }
    append_class_list(output, ids);
    record.class_ids.insert(record.class_ids.end(), ids.begin(), ids.end());
  }
  std::sort(record.class_ids.begin(), record.class_ids.end());
  record.class_ids.erase(std::unique(record.class_ids.begin(), record.class_ids.end()),
                         record.class_ids.end());
  ZV_TRY_STATUS(std::move(compiled.error));
  output.append(compiled.text, copied);
  record.output = std::move(output);
  return {};
}

// Creates the directive service and takes the time text, but only when some
// file of the list is compiled.
Status prepare_tools(BuildTools& tools, const std::vector<const TemplateDef*>& kinds) {
  bool any = false;
  for (const TemplateDef* def : kinds) any = any || def != nullptr;
  if (!any) return {};
  ZV_TRY(DirectiveService service, build_directive_service(tools.config));
  tools.compiler.emplace(tools.config, service.names());
  tools.service.emplace(std::move(service));
  tools.time = time_text_now();
  return {};
}

// Compiles the template files of a build on worker threads, each taking the
// next file of the list, and hands the results out in list order.
class CompilePool {
 public:
  CompilePool(const BuildTools& tools, const std::vector<const TemplateDef*>& kinds,
              const std::vector<FileRecord>& records, unsigned threads)
      : tools_(tools), kinds_(kinds), records_(records), results_(kinds.size()) {
    for (size_t i = 0; i < kinds.size(); ++i) {
      if (kinds[i] != nullptr) order_.push_back(i);
    }
    for (unsigned t = 0; t < threads; ++t) {
      try {
        workers_.emplace_back([this] { work(); });
      } catch (const std::system_error&) {
        break;  // fewer threads; with none, take() compiles each file itself
      }
    }
  }

  ~CompilePool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_.store(true);
    }
    room_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  CompilePool(const CompilePool&) = delete;
  CompilePool& operator=(const CompilePool&) = delete;

  // Returns the compiled form of file `index` (a template file), waiting for
  // a worker, or compiling it here when no worker exists.
  std::unique_ptr<CompiledFile> take(size_t index) {
    if (workers_.empty()) {
      auto compiled = std::make_unique<CompiledFile>();
      compile_file(tools_, *kinds_[index], records_[index], *compiled);
      return compiled;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [&] { return results_[index] != nullptr; });
    ++taken_;
    room_.notify_all();
    return std::move(results_[index]);
  }

 private:
  void work() {
    PathCheckScope path_checks;
    while (!stop_.load()) {
      const size_t next = next_.fetch_add(1);
      if (next >= order_.size()) return;
      {
        // Waits while the file is too far ahead of the ordered pass, so
        // that compiled files do not pile up in memory. The earliest file
        // not yet taken never waits, so the pass always makes progress.
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return stop_.load() || next < taken_ + kAhead; });
        if (stop_.load()) return;
      }
      const size_t index = order_[next];
      auto compiled = std::make_unique<CompiledFile>();
      compile_file(tools_, *kinds_[index], records_[index], *compiled);
      std::lock_guard<std::mutex> lock(mutex_);
      results_[index] = std::move(compiled);
      ready_.notify_all();
    }
  }

  const BuildTools& tools_;
  const std::vector<const TemplateDef*>& kinds_;
  const std::vector<FileRecord>& records_;
  std::vector<size_t> order_;  // indices of the template files
  std::atomic<size_t> next_{0};
  std::atomic<bool> stop_{false};
  // How many template files the workers may compile ahead of the pass.
  static constexpr size_t kAhead = 256;

  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  size_t taken_ = 0;  // template files handed to the ordered pass
  std::vector<std::unique_ptr<CompiledFile>> results_;
  std::vector<std::thread> workers_;
};

size_t count_templates(const std::vector<const TemplateDef*>& kinds) {
  size_t count = 0;
  for (const TemplateDef* def : kinds) count += def != nullptr ? 1 : 0;
  return count;
}

std::vector<FileRecord> blank_records(const ProjectConfig& config,
                                      const std::vector<ChangedFile>& files) {
  std::vector<FileRecord> records(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    FileRecord& record = records[i];
    record.path = files[i].path;
    record.source_time = files[i].time;
    record.source_path = config.in_directory / path_from_text(record.path);
    record.output_path = config.out_directory / path_from_text(record.path);
  }
  return records;
}

// The ordered pass over the file list; stops at the first error.
Status finish_files(const ProjectConfig& config, Registry& registry,
                    const std::vector<const TemplateDef*>& kinds, CompilePool& pool,
                    std::vector<FileRecord>& records) {
  OutputClaims claims(config);
  for (size_t i = 0; i < records.size(); ++i) {
    ZV_TRY_STATUS(claims.claim(records[i].output_path));
    if (kinds[i] == nullptr) continue;
    std::unique_ptr<CompiledFile> compiled = pool.take(i);
    ZV_TRY_STATUS(finish_file(registry, *compiled, records[i]));
  }
  return {};
}

}  // namespace

unsigned compile_threads() {
  if (const char* value = std::getenv("ZEVIZIZ_JOBS")) {
    char* end = nullptr;
    const unsigned long jobs = std::strtoul(value, &end, 10);
    if (*value >= '0' && *value <= '9' && *end == '\0' && jobs >= 1 && jobs <= 256) {
      return static_cast<unsigned>(jobs);
    }
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

Result<std::vector<FileRecord>> compile_files(const ProjectConfig& config, Registry& registry,
                                              const ReuseTable& reuse,
                                              const std::vector<ChangedFile>& files) {
  const std::vector<const TemplateDef*> kinds = template_kinds(config, files);
  BuildTools tools{config, reuse, {}, {}, {}, {}};
  ZV_TRY_STATUS(prepare_tools(tools, kinds));
  std::vector<FileRecord> records = blank_records(config, files);
  const size_t templates = count_templates(kinds);
  unsigned threads = compile_threads();
  if (threads > templates) threads = static_cast<unsigned>(templates);
  CompilePool pool(tools, kinds, records, threads > 1 ? threads : 0);
  Status compiled = finish_files(config, registry, kinds, pool, records);
  print_warnings(records);
  if (!compiled.ok()) return compiled.take_error();
  return records;
}

}  // namespace zeviziz
