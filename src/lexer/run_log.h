// The record a region reader keeps while it reads: token runs (a kind path,
// a leaf kind and a byte range of the source) in source order, from which
// the region's tree is built once the region reads completely. Groups,
// declaration values, strings and comments are recorded as one run each
// without being read character by character, so a failed attempt costs no
// more than the reading itself. Lexer-internal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "lexer/node.h"

namespace zeviziz {

// How the bytes of a run become nodes.
enum class RunShape : uint8_t {
  Plain,       // every character goes to the leaf kind
  Group,       // a "[...]" or "(...)" group: Char and Space under the path
  ParenGroup,  // a "(...)" group: Open, Value(Char.. Space..), Close
  Value,       // a declaration value: Value(Char, Space, StringValue, groups)
};

// One node of a tree under construction, in a flat array: its value as a
// byte range of the source, its first and last child and next sibling as
// array indexes.
struct FlatNode {
  static constexpr uint32_t kNone = UINT32_MAX;
  size_t begin = 0;
  size_t end = 0;
  uint32_t first_child = kNone;
  uint32_t last_child = kNone;
  uint32_t next_sibling = kNone;
  uint32_t child_count = 0;
  NodeKind kind = NodeKind::Null;
  bool has_name = false;
  bool has_declaration = false;
};

class RunLog {
 public:
  // Forgets every run.
  void clear();
  // The current length, for rollback.
  size_t mark() const { return runs_.size(); }
  // Drops the runs recorded since `mark`.
  void rollback(size_t mark);

  // Records bytes [begin, end) read with kind path `path` and leaf `leaf`
  // (Plain), or a whole construct of another shape (`leaf` unused). A Plain
  // run that continues the previous one with the same path and leaf extends
  // it.
  void add(std::span<const NodeKind> path, NodeKind leaf, RunShape shape, size_t begin, size_t end);
  // add() for a caller that numbers its path states: equal `epoch` values
  // promise an unchanged path, which spares comparing it.
  void add(std::span<const NodeKind> path, uint64_t epoch, NodeKind leaf, RunShape shape,
           size_t begin, size_t end) {
    if (begin == end) return;
    if (epoch == epoch_ && !runs_.empty() && shape == RunShape::Plain) {
      Run& last = runs_.back();
      if (last.shape == RunShape::Plain && last.leaf == leaf && last.end == begin) {
        last.end = end;
        return;
      }
    }
    add(path, leaf, shape, begin, end);
    epoch_ = epoch;
  }

  // Returns the tree below a `root_kind` node that adding every recorded
  // character of `text` one at a time (append_char) would build. Runs of
  // shapes other than Plain must come from a complete reading of `text`:
  // groups close, values end, and no NUL or malformed UTF-8 inside.
  Node build(std::string_view text, NodeKind root_kind);

  // The number of runs replayed by build() on the calling thread so far.
  static uint64_t replayed();

 private:
  struct Run {
    size_t begin;
    size_t end;
    size_t path_begin;
    uint32_t path_size;
    NodeKind leaf;
    RunShape shape;
  };

  std::vector<Run> runs_;
  std::vector<NodeKind> paths_;
  uint64_t epoch_ = 0;  // the caller's path state of the last run; 0 = none
  // Buffers of build(), kept between regions.
  std::vector<FlatNode> nodes_;
  std::vector<NodeKind> replay_path_;
};

}  // namespace zeviziz
