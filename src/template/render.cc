// Rendering. The segments of the plan become start and end events; a sweep
// over the sorted events keeps, per list, the active segments ordered by
// (depth, region id), and between two event positions picks the treatment of
// that stretch from the deepest candidate of each list. Adjacent stretches
// with the same treatment and segment data form one piece. Text pieces are
// copied (line by line under the whitespace options), string pieces are
// lexed, removed pieces are dropped.
#include "template/render.h"

#include <algorithm>
#include <array>
#include <tuple>

#include "base/unicode.h"
#include "lexer/lexer.h"

namespace zeviziz {
namespace {

enum class Treatment { Text, String, Removed };

// A maximal stretch of the file with one treatment; `segment` is the winning
// segment, or null for a stretch that no segment covers.
struct Piece {
  size_t start = 0;
  size_t end = 0;
  Treatment treatment = Treatment::Text;
  const Segment* segment = nullptr;
};

bool same_data(const Segment* a, const Segment* b) {
  if (!a || !b) return a == b;
  return a->depth == b->depth && a->region == b->region &&
         a->optimize_whitespaces == b->optimize_whitespaces &&
         a->keep_indentation == b->keep_indentation && a->keep_new_lines == b->keep_new_lines;
}

// The active segments of one list: a max-heap on (depth, region id) whose
// ended segments are dropped lazily when they reach the top.
class ActiveSet {
 public:
  explicit ActiveSet(const std::vector<Segment>& segments)
      : segments_(segments), ended_(segments.size(), false) {}

  void add(uint32_t index) {
    heap_.push_back(index);
    std::push_heap(heap_.begin(), heap_.end(), Shallower{segments_});
  }
  void remove(uint32_t index) { ended_[index] = true; }

  // The deepest active segment (highest region id on equal depth), or null.
  const Segment* best() {
    while (!heap_.empty() && ended_[heap_.front()]) {
      std::pop_heap(heap_.begin(), heap_.end(), Shallower{segments_});
      heap_.pop_back();
    }
    return heap_.empty() ? nullptr : &segments_[heap_.front()];
  }

 private:
  struct Shallower {
    const std::vector<Segment>& segments;
    bool operator()(uint32_t a, uint32_t b) const {
      const Segment& x = segments[a];
      const Segment& y = segments[b];
      return std::tie(x.depth, x.region, a) < std::tie(y.depth, y.region, b);
    }
  };

  const std::vector<Segment>& segments_;
  std::vector<bool> ended_;
  std::vector<uint32_t> heap_;
};

// A segment's start or end.
struct Event {
  size_t pos;
  uint32_t index;  // in its list
  uint8_t list;
  bool start;
};

Piece text_or_removed(const Segment* text, const Segment* removed) {
  if (removed && (!text || removed->depth >= text->depth)) {
    return Piece{0, 0, Treatment::Removed, removed};
  }
  return Piece{0, 0, Treatment::Text, text};
}

// The treatment of a stretch from the candidate of each list.
Piece choose(const Segment* text, const Segment* string, const Segment* removed) {
  if (!string) return text_or_removed(text, removed);
  const int other = std::max(text ? text->depth : -1, removed ? removed->depth : -1);
  if (string->depth >= other) return Piece{0, 0, Treatment::String, string};
  return text_or_removed(text, removed);
}

// Collects stretches into maximal pieces and hands each finished piece to
// `emit`.
template <typename Emit>
class PieceJoiner {
 public:
  explicit PieceJoiner(Emit& emit) : emit_(emit) {}

  void add(size_t start, size_t end, Piece piece) {
    if (current_.end == start && current_.end > current_.start &&
        current_.treatment == piece.treatment && same_data(current_.segment, piece.segment)) {
      current_.end = end;
      return;
    }
    finish();
    piece.start = start;
    piece.end = end;
    current_ = piece;
  }

  void finish() {
    if (current_.end > current_.start) emit_(current_);
    current_ = Piece{};
  }

 private:
  Emit& emit_;
  Piece current_;
};

// Sweeps the plan's events and calls `emit` for each piece, in file order.
template <typename Emit>
void cut_pieces(size_t size, const Plan& plan, Emit emit) {
  const std::array<const std::vector<Segment>*, 3> lists{&plan.text_segments, &plan.string_segments,
                                                         &plan.removed_ranges};
  std::vector<Event> events;
  events.reserve(2 * (lists[0]->size() + lists[1]->size() + lists[2]->size()));
  for (uint8_t list = 0; list < lists.size(); ++list) {
    for (uint32_t i = 0; i < lists[list]->size(); ++i) {
      const Segment& s = (*lists[list])[i];
      events.push_back(Event{s.start, i, list, true});
      events.push_back(Event{s.end, i, list, false});
    }
  }
  std::sort(events.begin(), events.end(),
            [](const Event& a, const Event& b) { return a.pos < b.pos; });
  std::array<ActiveSet, 3> active{ActiveSet(*lists[0]), ActiveSet(*lists[1]), ActiveSet(*lists[2])};
  PieceJoiner<Emit> joiner(emit);
  size_t pos = 0;
  for (const Event& event : events) {
    if (event.pos > pos) {
      joiner.add(pos, event.pos, choose(active[0].best(), active[1].best(), active[2].best()));
      pos = event.pos;
    }
    event.start ? active[event.list].add(event.index) : active[event.list].remove(event.index);
  }
  if (pos < size) joiner.add(pos, size, Piece{});
  joiner.finish();
}

// Replaces each run of white space by one space.
std::string collapse_runs(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  bool in_run = false;
  while (pos < text.size()) {
    const size_t start = pos;
    const bool white = is_white_space(decode_utf8(text, pos));
    if (white && !in_run) out.push_back(' ');
    if (!white) out.append(text.substr(start, pos - start));
    in_run = white;
  }
  return out;
}

void collapse_white_space(Node& node) {
  if (node.kind == NodeKind::Text) node.value = collapse_runs(node.value);
  if (node.kind == NodeKind::Space) node.value.assign(1, ' ');
  for (Node& child : node.children) collapse_white_space(child);
}

// The last byte of the pre-order text of `node`, or -1 when it has none.
int last_byte(const Node& node) {
  for (auto it = node.children.rbegin(); it != node.children.rend(); ++it) {
    const int byte = last_byte(*it);
    if (byte >= 0) return byte;
  }
  return node.value.empty() ? -1 : static_cast<unsigned char>(node.value.back());
}

// Returns `line` without white space at its start (`front`) or end.
std::string_view trim_side(std::string_view line, bool front) {
  size_t pos = 0;
  size_t keep_from = line.size();
  size_t keep_to = 0;
  while (pos < line.size()) {
    const size_t start = pos;
    if (!is_white_space(decode_utf8(line, pos))) {
      keep_from = std::min(keep_from, start);
      keep_to = pos;
      if (front) break;
    }
  }
  if (keep_from >= keep_to) return {};
  return front ? line.substr(keep_from) : line.substr(0, keep_to);
}

class Renderer {
 public:
  Renderer(std::string_view text, const Lexer& lexer, RenderSink& sink, LexTrace* trace)
      : text_(text), lexer_(lexer), sink_(sink), trace_(trace) {}

  void run(const Plan& plan) {
    cut_pieces(text_.size(), plan, [this](const Piece& piece) {
      const std::string_view slice = text_.substr(piece.start, piece.end - piece.start);
      if (piece.treatment == Treatment::Text) write_text(piece, slice);
      if (piece.treatment == Treatment::String) write_string(*piece.segment, slice, piece.start);
    });
    flush_pending();
  }

 private:
  int output_last() const {
    return pending_.empty() ? last_ : static_cast<unsigned char>(pending_.back());
  }

  void write_text(const Piece& piece, std::string_view slice) {
    if (!piece.segment || !piece.segment->optimize_whitespaces) {
      pending_.append(slice);
      return;
    }
    pending_ += apply_whitespace_options(slice, piece.start == 0, piece.segment->keep_indentation,
                                         piece.segment->keep_new_lines, output_last());
  }

  // Lexes a string piece that starts at byte `start` of the file and hands
  // its children on one at a time, so that only one region tree of the piece
  // lives at once.
  void write_string(const Segment& segment, std::string_view slice, size_t start) {
    last_ = output_last();
    flush_pending();
    const size_t regions = trace_ != nullptr ? trace_->regions.size() : 0;
    const size_t misses = trace_ != nullptr ? trace_->misses.size() : 0;
    lex_each(
        lexer_, slice,
        [&](Node&& child) {
          if (segment.optimize_whitespaces) collapse_white_space(child);
          const int byte = last_byte(child);
          if (byte >= 0) last_ = byte;
          sink_.child(std::move(child));
        },
        trace_);
    if (trace_ == nullptr) return;
    // The lexer counts offsets from the start of the piece.
    for (size_t i = regions; i < trace_->regions.size(); ++i) trace_->regions[i] += start;
    for (size_t i = misses; i < trace_->misses.size(); ++i) trace_->misses[i].offset += start;
  }

  void flush_pending() {
    if (!pending_.empty()) sink_.text(pending_);
    pending_.clear();
  }

  std::string_view text_;
  const Lexer& lexer_;
  RenderSink& sink_;
  LexTrace* trace_;
  std::string pending_;  // text written since the last string piece
  int last_ = -1;        // last byte written before `pending_`
};

// Builds the Template tree: template text joins the Text node before it,
// lexed children are kept as the lexer made them.
class TreeSink final : public RenderSink {
 public:
  void text(std::string& text) override { push_text(root_, text); }
  void child(Node&& child) override { root_.children.push_back(std::move(child)); }
  Node take() { return std::move(root_); }

 private:
  Node root_{NodeKind::Template};
};

}  // namespace

std::string apply_whitespace_options(std::string_view text, bool at_file_start,
                                     bool keep_indentation, bool keep_new_lines, int previous) {
  std::string out;
  size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    const size_t newline = text.find('\n', pos);
    const bool has_break = newline != std::string_view::npos;
    size_t line_end = has_break ? newline : text.size();
    const bool crlf = has_break && line_end > pos && text[line_end - 1] == '\r';
    if (crlf) --line_end;
    std::string_view line = trim_side(text.substr(pos, line_end - pos), false);
    if (!keep_indentation && (at_file_start || !first)) line = trim_side(line, true);
    out.append(line);
    const int last = out.empty() ? previous : static_cast<unsigned char>(out.back());
    const bool break_after_blank = first && last >= 0 && last != '\n' && last != '\r';
    if (keep_new_lines && has_break && (!line.empty() || break_after_blank)) {
      out.append(crlf ? "\r\n" : "\n");
    }
    pos = has_break ? newline + 1 : text.size();
    first = false;
  }
  return out;
}

Result<Node> render(std::string_view text, const Plan& plan,
                    const std::vector<std::string>& directive_names, LexTrace* trace) {
  return render(text, plan, new_lexer(directive_names), trace);
}

Result<Node> render(std::string_view text, const Plan& plan, const Lexer& lexer, LexTrace* trace) {
  TreeSink sink;
  ZV_TRY_STATUS(render_each(text, plan, lexer, sink, trace));
  return sink.take();
}

Status render_each(std::string_view text, const Plan& plan, const Lexer& lexer, RenderSink& sink,
                   LexTrace* trace) {
  if (text.find('\0') != std::string_view::npos) {
    return make_error("Templates cannot contain NUL characters");
  }
  Renderer(text, lexer, sink, trace).run(plan);
  return {};
}

}  // namespace zeviziz
