// Template planning. One level plans a range of the file as one template: it
// looks for the first region of each of the template's boundary entries and
// string boundaries, repeatedly takes the leftmost (a boundary entry beats a
// string that starts at the same offset), records it, and searches again only
// the candidates that the winner overlapped, starting at the winner's end.
// Boundary entries either recurse into their templates (up to depth 4; deeper
// content is kept verbatim at depth 5), keep their content verbatim, or are
// removed. What no region claimed is the template's own text, or belongs to
// the template's default entries when it has some.
//
// A level whose template reads a known language (language.h) also follows
// that language's lexical rules, which the configured delimiters alone cannot
// express: JavaScript regular-expression literals are claimed like regions
// (nothing starts inside them; they stay the level's text) and template
// literals end at their real closing backtick; a boundary entry whose content
// is PHP code ends only at a close delimiter that PHP would see; PHP heredocs
// are string contents kept exactly, with their delimiter lines; "#[" opens a
// PHP attribute, not a comment; HTML <pre> and <textarea> content is kept
// with its white space.
#include "template/plan.h"

#include <algorithm>

#include "template/javascript.h"
#include "template/language.h"
#include "template/php.h"

namespace zeviziz {
namespace {

// Levels up to this depth are planned; content below them is verbatim text.
constexpr int kMaxPlannedDepth = 4;
constexpr int kVerbatimDepth = kMaxPlannedDepth + 1;

struct Flags {
  bool optimize_whitespaces;
  bool keep_indentation;
  bool keep_new_lines;
};

// The flags of content kept as it is (an entry naming no template).
constexpr Flags kVerbatim{false, true, true};

Flags flags_of(const TemplateDef& tmpl) {
  return Flags{tmpl.optimize_whitespaces, tmpl.keep_indentation, tmpl.keep_new_lines};
}

// Sorts `ranges` and merges those that overlap or touch.
void merge_ranges(std::vector<Range>& ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const Range& a, const Range& b) { return a.start < b.start; });
  size_t out = 0;
  for (const Range& range : ranges) {
    if (out > 0 && range.start <= ranges[out - 1].end) {
      ranges[out - 1].end = std::max(ranges[out - 1].end, range.end);
    } else {
      ranges[out++] = range;
    }
  }
  ranges.resize(out);
}

// The ranges of `ranges` (sorted, non-overlapping) that overlap `range`.
std::span<const Range> overlapping(std::span<const Range> ranges, Range range) {
  auto first = std::upper_bound(ranges.begin(), ranges.end(), range.start,
                                [](size_t pos, const Range& r) { return pos < r.end; });
  auto last = std::lower_bound(first, ranges.end(), range.end,
                               [](const Range& r, size_t pos) { return r.start < pos; });
  return std::span<const Range>(first, last);
}

// Pushes the non-empty gaps of `range` minus `holes` (sorted, non-overlapping).
void push_gaps(std::vector<Segment>& out, Range range, std::span<const Range> holes, int depth,
               uint64_t region, Flags flags) {
  size_t pos = range.start;
  auto add = [&](size_t start, size_t end) {
    if (start < end) {
      out.push_back(Segment{start, end, depth, region, flags.optimize_whitespaces,
                            flags.keep_indentation, flags.keep_new_lines});
    }
  };
  for (const Range& hole : overlapping(holes, range)) {
    add(pos, hole.start);
    pos = std::max(pos, hole.end);
  }
  add(pos, range.end);
}

// Splits the segments of region `region` in `list` from `begin` on at the
// edges of `zones` (sorted, non-overlapping); the parts inside a zone get the
// verbatim flags. Segments of other regions stay as they are.
void keep_verbatim(std::vector<Segment>& list, size_t begin, uint64_t region,
                   std::span<const Range> zones) {
  std::vector<Segment> own(list.begin() + static_cast<std::ptrdiff_t>(begin), list.end());
  list.resize(begin);
  for (const Segment& segment : own) {
    if (segment.region != region) {
      list.push_back(segment);
      continue;
    }
    size_t pos = segment.start;
    auto add = [&](size_t start, size_t end, bool verbatim) {
      if (start >= end) return;
      Segment part = segment;
      part.start = start;
      part.end = end;
      if (verbatim) {
        part.optimize_whitespaces = kVerbatim.optimize_whitespaces;
        part.keep_indentation = kVerbatim.keep_indentation;
        part.keep_new_lines = kVerbatim.keep_new_lines;
      }
      list.push_back(part);
    };
    for (const Range& zone : overlapping(zones, Range{segment.start, segment.end})) {
      add(pos, std::max(pos, zone.start), false);
      pos = std::max(pos, zone.start);
      add(pos, std::min(segment.end, zone.end), true);
      pos = std::min(segment.end, zone.end);
    }
    add(pos, segment.end, false);
  }
}

// Plans `content` for one template name of an entry: a nested plan for a
// named template, verbatim text otherwise.
Status plan_name(PlanContext& context, const std::string& name, Range content, int depth,
                 std::span<const Range> protected_ranges) {
  if (depth < kMaxPlannedDepth && !name.empty()) {
    auto it = context.templates.find(name);
    if (it == context.templates.end()) return make_error("Unknown template: " + name);
    return plan_range(context, *it->second, content, depth + 1, protected_ranges);
  }
  const uint64_t region = context.next_region++;
  const int content_depth = depth < kMaxPlannedDepth ? depth + 1 : kVerbatimDepth;
  push_gaps(context.plan.text_segments, content, protected_ranges, content_depth, region,
            kVerbatim);
  return {};
}

// A boundary region that may win the next step: of a boundary entry (entry
// set) or of a string boundary (entry null).
struct Candidate {
  const CompiledBoundary* boundary = nullptr;
  const TemplateEntry* entry = nullptr;
  std::optional<Region> region;
  // Search memory for this level's range; its searches start further right
  // each time.
  BoundaryMemo memo;
  // True when the entry hands its content to a template that reads PHP.
  bool php_content = false;
};

// What a level's language adds to the candidates: the regular-expression
// literals of JavaScript or the heredocs of PHP, as regions; content and
// delimiters are the same range.
struct LanguageCandidate {
  std::optional<Region> region;
  std::optional<Heredoc> heredoc;  // set when the region is a heredoc
};

// Plans one range as one template (one call of `plan_range`).
class LevelPlanner {
 public:
  LevelPlanner(PlanContext& context, const TemplateDef& tmpl, Range range, int depth,
               std::span<const Range> protected_ranges)
      : context_(context),
        tmpl_(tmpl),
        range_(range),
        depth_(depth),
        protected_(protected_ranges),
        region_(context.next_region++),
        flags_(flags_of(tmpl)),
        language_(language_of(tmpl, context.templates)),
        php_(context.text, range),
        strings_begin_(context.plan.string_segments.size()) {
    auto inherited = overlapping(protected_, range_);
    claimed_.assign(inherited.begin(), inherited.end());
    if (language_ == Language::JavaScript) {
      javascript_ = scan_javascript(context.text, range, protected_);
    }
  }

  Status run() {
    ZV_TRY_STATUS(collect_candidates());
    while (true) {
      Candidate* named = leftmost(named_);
      Candidate* string = leftmost(strings_);
      if (language_wins(named, string)) {
        const size_t end = extra_.region->end;
        take_language();
        if (end >= range_.end) break;
        research(end);
        continue;
      }
      if (!named && !string) break;
      const bool string_wins = string && (!named || string->region->start < named->region->start);
      const Candidate& winner = string_wins ? *string : *named;
      const size_t end = winner.region->end;
      ZV_TRY_STATUS(take(winner));
      if (end >= range_.end) break;
      research(end);
    }
    return finish();
  }

 private:
  const CompiledBoundary* boundary(const std::string& name) const {
    auto it = context_.boundaries.find(name);
    return it == context_.boundaries.end() ? nullptr : &it->second;
  }

  Status collect_candidates() {
    for (const TemplateEntry& entry : tmpl_.templates) {
      if (!entry.has_boundary) continue;
      const CompiledBoundary* found = boundary(entry.boundary);
      if (!found) return make_error("Unknown boundary: " + entry.boundary);
      named_.push_back(Candidate{found, &entry, std::nullopt, {}, hands_on_php(entry)});
    }
    for (const std::string& name : tmpl_.boundaries) {
      const CompiledBoundary* found = boundary(name);
      if (!found) return make_error("Unknown boundary: " + name);
      strings_.push_back(Candidate{found, nullptr, std::nullopt, {}});
    }
    for (Candidate& candidate : named_) search(candidate, range_.start);
    for (Candidate& candidate : strings_) search(candidate, range_.start);
    search_language(range_.start);
    return {};
  }

  bool hands_on_php(const TemplateEntry& entry) const {
    return std::any_of(entry.names.begin(), entry.names.end(), [&](const std::string& name) {
      auto it = context_.templates.find(name);
      return it != context_.templates.end() &&
             language_of(*it->second, context_.templates) == Language::Php;
    });
  }

  void search(Candidate& candidate, size_t from) {
    BoundaryMemo* memo = &candidate.memo;
    const std::string_view text = context_.text;
    if (candidate.php_content) {
      candidate.region = php_.find_region(*candidate.boundary, from, protected_, memo);
    } else if (candidate.entry) {
      candidate.region = find_region(text, *candidate.boundary, from, range_.end, protected_, memo);
      // In PHP "#[" opens an attribute; a comment opened by that "#" is none.
      while (language_ == Language::Php && candidate.region &&
             candidate.region->content_start == candidate.region->start + 1 &&
             text.compare(candidate.region->start, 2, "#[") == 0) {
        candidate.region = find_region(text, *candidate.boundary, candidate.region->start + 1,
                                       range_.end, protected_, memo);
      }
    } else {
      candidate.region = find_unescaped_region(text, *candidate.boundary, from, range_.end,
                                               range_.start, protected_, memo);
      if (candidate.region) extend_template_literal(*candidate.region);
    }
  }

  // A JavaScript string region opened by the backtick of a template literal
  // ends where the literal does, after any "${...}" it holds.
  void extend_template_literal(Region& region) const {
    if (!javascript_ || region.content_start != region.start + 1) return;
    const auto& literals = javascript_->templates;
    auto it = std::lower_bound(literals.begin(), literals.end(), region.start,
                               [](const Range& r, size_t pos) { return r.start < pos; });
    if (it == literals.end() || it->start != region.start) return;
    region.end = it->end;
    region.content_end = it->end - 1;
  }

  // Finds the language's next region at or after `from`.
  void search_language(size_t from) {
    extra_ = LanguageCandidate{};
    if (javascript_) {
      const auto& regexes = javascript_->regexes;
      auto it = std::lower_bound(regexes.begin(), regexes.end(), from,
                                 [](const Range& r, size_t pos) { return r.start < pos; });
      if (it != regexes.end()) extra_.region = Region{it->start, it->end, it->start, it->end};
    } else if (language_ == Language::Php) {
      extra_.heredoc = php_.next_heredoc(from, protected_);
      if (extra_.heredoc) {
        const Heredoc& h = *extra_.heredoc;
        extra_.region = Region{h.start, h.end, h.body_start, h.body_end};
      }
    }
  }

  // True when the language's region lies before both configured candidates.
  bool language_wins(const Candidate* named, const Candidate* string) const {
    if (!extra_.region) return false;
    const size_t start = extra_.region->start;
    return (!named || start < named->region->start) && (!string || start < string->region->start);
  }

  // A regular expression stays this level's text. A heredoc's opening
  // "<<<ID" does too; from the line break after it to the closing identifier
  // it is kept exactly, whatever the white-space options, because PHP reads
  // its lines and their indentation; its body is lexed as string contents.
  void take_language() {
    const Region& region = *extra_.region;
    claimed_.push_back(Range{region.start, region.end});
    if (!extra_.heredoc) return;
    const std::string_view text = context_.text;
    size_t kept_from = region.content_start - 1;  // the opening line's "\n"
    if (kept_from > region.start && text[kept_from - 1] == '\r') --kept_from;
    const Range kept{kept_from, region.end};
    const uint64_t id = context_.next_region++;
    const int depth = std::min(depth_ + 1, kVerbatimDepth);
    push_gaps(context_.plan.text_segments, kept, protected_, depth, id, kVerbatim);
    push_gaps(context_.plan.string_segments, Range{region.content_start, region.content_end},
              protected_, depth, id, kVerbatim);
    nested_.push_back(kept);
  }

  // Searches again, from `end`, every found candidate that starts before it.
  void research(size_t end) {
    for (auto* list : {&named_, &strings_}) {
      for (Candidate& candidate : *list) {
        if (candidate.region && candidate.region->start < end) search(candidate, end);
      }
    }
    if (extra_.region && extra_.region->start < end) search_language(end);
  }

  // The found candidate with the lowest start; the earlier one on a tie.
  static Candidate* leftmost(std::vector<Candidate>& list) {
    Candidate* best = nullptr;
    for (Candidate& candidate : list) {
      if (candidate.region && (!best || candidate.region->start < best->region->start)) {
        best = &candidate;
      }
    }
    return best;
  }

  Status take(const Candidate& winner) {
    const Region& region = *winner.region;
    claimed_.push_back(Range{region.start, region.end});
    if (!winner.entry) {
      push_gaps(context_.plan.string_segments, Range{region.content_start, region.content_end},
                protected_, depth_, region_, flags_);
      return {};
    }
    entry_regions_.push_back(Range{region.start, region.end});
    return take_entry(*winner.entry, *winner.boundary, region);
  }

  Status take_entry(const TemplateEntry& entry, const CompiledBoundary& boundary,
                    const Region& region) {
    const bool names_template = std::any_of(entry.names.begin(), entry.names.end(),
                                            [](const std::string& n) { return !n.empty(); });
    if (tmpl_.remove_undefined_templates && !names_template) {
      // A line comment keeps its line break, so the lines around it stay apart.
      const size_t end = boundary.close_is_newline ? region.content_end : region.end;
      push_gaps(context_.plan.removed_ranges, Range{region.start, end}, protected_, depth_, region_,
                flags_);
      return {};
    }
    const Range content{region.content_start, region.content_end};
    for (const std::string& name : entry.names) {
      ZV_TRY_STATUS(plan_name(context_, name, content, depth_, protected_));
    }
    if (!entry.names.empty()) nested_.push_back(content);
    return {};
  }

  Status finish() {
    const size_t texts_begin = context_.plan.text_segments.size();
    ZV_TRY_STATUS(push_own_text());
    if (language_ == Language::Html) keep_preformatted(texts_begin);
    return {};
  }

  Status push_own_text() {
    const bool has_defaults =
        std::any_of(tmpl_.templates.begin(), tmpl_.templates.end(),
                    [](const TemplateEntry& entry) { return !entry.has_boundary; });
    if (has_defaults) {
      merge_ranges(claimed_);
      for (const TemplateEntry& entry : tmpl_.templates) {
        if (entry.has_boundary) continue;
        for (const std::string& name : entry.names) {
          ZV_TRY_STATUS(plan_name(context_, name, range_, depth_, claimed_));
        }
      }
      return {};
    }
    auto inherited = overlapping(protected_, range_);
    std::vector<Range> holes(inherited.begin(), inherited.end());
    holes.insert(holes.end(), nested_.begin(), nested_.end());
    merge_ranges(holes);
    push_gaps(context_.plan.text_segments, range_, holes, depth_, region_, flags_);
    return {};
  }

  // Gives the content of <pre> and <textarea> elements, in this level's own
  // text and string segments, the flags that keep it unchanged (nested
  // templates such as a script inside keep theirs).
  void keep_preformatted(size_t texts_begin) {
    auto inherited = overlapping(protected_, range_);
    std::vector<Range> opaque(inherited.begin(), inherited.end());
    opaque.insert(opaque.end(), entry_regions_.begin(), entry_regions_.end());
    merge_ranges(opaque);
    const std::vector<Range> zones = find_preformatted(context_.text, range_, opaque);
    if (zones.empty()) return;
    keep_verbatim(context_.plan.text_segments, texts_begin, region_, zones);
    keep_verbatim(context_.plan.string_segments, strings_begin_, region_, zones);
  }

  PlanContext& context_;
  const TemplateDef& tmpl_;
  const Range range_;
  const int depth_;
  const std::span<const Range> protected_;
  const uint64_t region_;
  const Flags flags_;
  const Language language_;
  PhpScanner php_;
  std::optional<JavaScriptLayout> javascript_;
  LanguageCandidate extra_;
  const size_t strings_begin_;  // the first string segment of this level
  std::vector<Range> claimed_;
  std::vector<Range> entry_regions_;  // the regions of boundary entries taken
  std::vector<Range> nested_;
  std::vector<Candidate> named_;
  std::vector<Candidate> strings_;
};

}  // namespace

TemplateMap map_templates(const std::vector<TemplateDef>& templates) {
  TemplateMap map;
  for (const TemplateDef& tmpl : templates) map.emplace(tmpl.name, &tmpl);
  return map;
}

Status plan_range(PlanContext& context, const TemplateDef& tmpl, Range range, int depth,
                  std::span<const Range> protected_ranges) {
  range.end = std::min(range.end, context.text.size());
  if (range.start >= range.end) return {};
  return LevelPlanner(context, tmpl, range, depth, protected_ranges).run();
}

Result<Plan> plan_file(std::string_view text, const TemplateDef& tmpl,
                       const BoundaryMap& boundaries, const TemplateMap& templates) {
  PlanContext context{text, boundaries, templates, 0, {}};
  ZV_TRY_STATUS(plan_range(context, tmpl, Range{0, text.size()}, 0, {}));
  return std::move(context.plan);
}

}  // namespace zeviziz
