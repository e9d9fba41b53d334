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

  // Returns the tree below a `root_kind` node that adding every recorded
  // character of `text` one at a time (append_char) would build. The runs
  // must come from a complete reading of `text`: groups close, values end,
  // and no NUL or malformed UTF-8 inside.
  Node build(std::string_view text, NodeKind root_kind);

  // The number of runs replayed by build() on the calling thread so far.
  static uint64_t replayed();

 private:
  struct Run {
    size_t begin;
    size_t end;
    uint32_t path_begin;
    uint32_t path_size;
    NodeKind leaf;
    RunShape shape;
  };

  std::vector<Run> runs_;
  std::vector<NodeKind> paths_;
};

}  // namespace zeviziz
