// Token runs and the tree they build.
//
// build() first lays the nodes out in a flat array (kind, value range in the
// source, first/last child, next sibling), applying per run the sibling rules
// that append_char applies per character, then copies the array into a Node
// tree whose child vectors are sized once. A run's first character walks the
// whole kind path; the following ones extend the leaf's value range, except
// the few characters that start a new selector part ("*", "&", "#", ".", an
// attribute's "[", a pseudo-class's ":"), which walk again. Grouped shapes
// (groups, values) are cut into plain runs here, after the region has read
// completely, so each is taken apart once.
#include "lexer/run_log.h"

#include <algorithm>
#include <cstring>

#include "base/unicode.h"
#include "lexer/scan_memo.h"

namespace zeviziz {
namespace {

constexpr uint32_t kNone = FlatNode::kNone;

thread_local uint64_t t_replayed = 0;

// The character after which a leaf of kind `leaf` may have to start a new
// node even within one run (0 when none).
char32_t splitting_char(NodeKind leaf) {
  switch (leaf) {
    case NodeKind::Universal:
      return U'*';
    case NodeKind::Nesting:
      return U'&';
    case NodeKind::Id:
      return U'#';
    case NodeKind::Class:
      return U'.';
    case NodeKind::Open:
      return U'[';
    case NodeKind::Prefix:
      return U':';
    default:
      return 0;
  }
}

bool ascii_ws(unsigned char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

// The nodes of one region in a flat array, built with append_char's rules.
class FlatTree {
 public:
  FlatTree(std::string_view text, NodeKind root_kind, std::vector<FlatNode>& nodes)
      : text_(text), nodes_(nodes) {
    nodes_.clear();
    nodes_.emplace_back().kind = root_kind;
  }

  // Adds bytes [begin, end) as characters of the leaf `leaf` below `path`.
  void append(std::span<const NodeKind> path, NodeKind leaf, size_t begin, size_t end) {
    size_t length = 1;
    char32_t ch = static_cast<unsigned char>(text_[begin]);
    if (ch >= 0x80) ch = decode_char(text_, begin, length);
    uint32_t leaf_node = walk(path, leaf, ch);
    extend(leaf_node, begin, begin + length);
    const char32_t split = splitting_char(leaf);
    if (split == 0) {
      extend(leaf_node, begin + length, end);
      return;
    }
    for (size_t pos = begin + length; pos < end; pos += length) {
      ch = decode_char(text_, pos, length);
      if (ch == split) leaf_node = walk(path, leaf, ch);
      extend(leaf_node, pos, pos + length);
    }
  }

  Node materialize() {
    Node root;
    fill(root, 0);
    return root;
  }

 private:
  // True when `ch` starts a new sibling of kind `k` after the last child `l`
  // of the same kind (append_char's rule).
  static bool starts_new(NodeKind k, const FlatNode& l, bool last, NodeKind next, char32_t ch) {
    switch (k) {
      case NodeKind::Universal:
        if (last && ch == U'*') return true;
        break;
      case NodeKind::Nesting:
        if (last && ch == U'&') return true;
        break;
      case NodeKind::Id:
        if (last && ch == U'#') return true;
        break;
      case NodeKind::Class:
        if (last && ch == U'.') return true;
        break;
      case NodeKind::Attribute:
        if (!last && ch == U'[' && next == NodeKind::Open) return true;
        break;
      case NodeKind::Pseudoclass:
        if (!last && ch == U':' && next == NodeKind::Prefix && l.has_name) return true;
        break;
      default:
        break;
    }
    if (last) return l.child_count != 0;
    if ((next == NodeKind::AtRule || next == NodeKind::Selector) && l.has_declaration) return true;
    return l.end != l.begin;
  }

  // Follows `path` and `leaf` from the root, reusing or adding nodes for the
  // character `ch`; returns the leaf node.
  uint32_t walk(std::span<const NodeKind> path, NodeKind leaf, char32_t ch) {
    uint32_t cur = 0;
    const size_t levels = path.size() + 1;
    for (size_t i = 0; i < levels; ++i) {
      const bool last = i + 1 == levels;
      const NodeKind k = last ? leaf : path[i];
      const NodeKind next = last ? NodeKind::Null : i + 1 == path.size() ? leaf : path[i + 1];
      const uint32_t l = nodes_[cur].last_child;
      if (l == kNone || nodes_[l].kind != k || starts_new(k, nodes_[l], last, next, ch)) {
        cur = add_child(cur, k);
      } else {
        cur = l;
      }
    }
    return cur;
  }

  uint32_t add_child(uint32_t parent, NodeKind kind) {
    const auto index = static_cast<uint32_t>(nodes_.size());
    nodes_.emplace_back().kind = kind;
    FlatNode& p = nodes_[parent];
    if (p.last_child == kNone) {
      p.first_child = index;
    } else {
      nodes_[p.last_child].next_sibling = index;
    }
    p.last_child = index;
    ++p.child_count;
    p.has_name = p.has_name || kind == NodeKind::Name;
    p.has_declaration = p.has_declaration || kind == NodeKind::Declaration;
    return index;
  }

  // The characters of a node are consecutive in the source.
  void extend(uint32_t index, size_t begin, size_t end) {
    FlatNode& node = nodes_[index];
    if (node.end == node.begin) node.begin = begin;
    node.end = end;
  }

  void fill(Node& node, uint32_t index) const {
    const FlatNode& flat = nodes_[index];
    node.kind = flat.kind;
    if (flat.end != flat.begin) node.value.assign(text_.data() + flat.begin, flat.end - flat.begin);
    if (flat.child_count == 0) return;
    node.children.reserve(flat.child_count);
    for (uint32_t child = flat.first_child; child != kNone; child = nodes_[child].next_sibling) {
      fill(node.children.emplace_back(), child);
    }
  }

  std::string_view text_;
  std::vector<FlatNode>& nodes_;
};

// Cuts the grouped shapes into plain runs for a FlatTree, joining adjacent
// characters with the same path and leaf.
class Replayer {
 public:
  Replayer(std::string_view text, FlatTree& tree, std::vector<NodeKind>& path)
      : text_(text), tree_(tree), path_(path) {}

  void replay(std::span<const NodeKind> path, NodeKind leaf, RunShape shape, size_t begin,
              size_t end) {
    if (shape == RunShape::Plain) {
      tree_.append(path, leaf, begin, end);
      return;
    }
    path_.assign(path.begin(), path.end());
    switch (shape) {
      case RunShape::Plain:
        break;
      case RunShape::Group:
      case RunShape::ParenGroup:
        group(shape == RunShape::ParenGroup, begin);
        break;
      case RunShape::Value:
        value(begin, end);
        break;
    }
    flush();
  }

 private:
  // Queues bytes [begin, end) for `leaf` below the current path.
  void put(NodeKind leaf, size_t begin, size_t end) {
    if (pending_ && pending_leaf_ == leaf && pending_depth_ == path_.size() &&
        pending_end_ == begin) {
      pending_end_ = end;
      return;
    }
    flush();
    pending_ = true;
    pending_leaf_ = leaf;
    pending_depth_ = path_.size();
    pending_begin_ = begin;
    pending_end_ = end;
  }

  void flush() {
    if (!pending_) return;
    pending_ = false;
    tree_.append(std::span<const NodeKind>(path_.data(), pending_depth_), pending_leaf_,
                 pending_begin_, pending_end_);
  }

  void push(NodeKind kind) {
    flush();
    path_.push_back(kind);
  }

  void pop() {
    flush();
    path_.pop_back();
  }

  // Puts the string, comment or escape at `pos` (strings as `string_leaf`,
  // the others as Char) and returns the byte after it, or `pos` when none
  // starts there. The reading has checked that each closes; the scans stay
  // within the text regardless.
  size_t atomic(size_t pos, NodeKind string_leaf) {
    const size_t size = text_.size();
    const char c = text_[pos];
    size_t end = pos;
    if (c == '"' || c == '\'') {
      end = pos + 1;
      while (end < size && text_[end] != c) end += text_[end] == '\\' ? 2 : 1;
      end = std::min(end + 1, size);
      put(string_leaf, pos, end);
    } else if (c == '/' && pos + 1 < size && text_[pos + 1] == '*') {
      const size_t star = text_.find("*/", pos + 2);
      end = star == std::string_view::npos ? size : star + 2;
      put(NodeKind::Char, pos, end);
    } else if (c == '\\') {
      size_t length = 0;
      decode_char(text_, pos + 1, length);
      end = pos + 1 + length;
      put(NodeKind::Char, pos, end);
    }
    return end;
  }

  // Puts the character at `pos` as Space when it is white space, else as
  // Char; returns the byte after it.
  size_t character(size_t pos) {
    const auto c = static_cast<unsigned char>(text_[pos]);
    size_t length = 1;
    bool white = ascii_ws(c);
    if (c >= 0x80) white = is_white_space(decode_char(text_, pos, length));
    put(white ? NodeKind::Space : NodeKind::Char, pos, pos + length);
    return pos + length;
  }

  // The group opened at `pos`, counting only its own bracket kind; returns
  // the byte after its closing bracket.
  size_t group(bool parenthesis, size_t pos) {
    const char open = text_[pos];
    const char close = open == '(' ? ')' : ']';
    put(parenthesis ? NodeKind::Open : NodeKind::Char, pos, pos + 1);
    if (parenthesis) push(NodeKind::Value);
    ++pos;
    for (int depth = 1; pos < text_.size() && !(text_[pos] == close && depth == 1);) {
      const size_t after = atomic(pos, NodeKind::Char);
      if (after != pos) {
        pos = after;
        continue;
      }
      depth += text_[pos] == open ? 1 : text_[pos] == close ? -1 : 0;
      pos = character(pos);
    }
    if (parenthesis) pop();
    if (pos == text_.size()) return pos;
    put(parenthesis ? NodeKind::Close : NodeKind::Char, pos, pos + 1);
    return pos + 1;
  }

  void value(size_t pos, size_t end) {
    push(NodeKind::Value);
    while (pos < end) {
      const size_t after = atomic(pos, NodeKind::StringValue);
      if (after != pos) {
        pos = after;
      } else if (text_[pos] == '(') {
        push(NodeKind::Parenthesis);
        pos = group(true, pos);
        pop();
      } else if (text_[pos] == '[') {
        pos = group(false, pos);
      } else {
        pos = character(pos);
      }
    }
    pop();
  }

  std::string_view text_;
  FlatTree& tree_;
  std::vector<NodeKind>& path_;
  bool pending_ = false;
  NodeKind pending_leaf_ = NodeKind::Null;
  size_t pending_depth_ = 0;
  size_t pending_begin_ = 0;
  size_t pending_end_ = 0;
};

}  // namespace

void RunLog::clear() {
  runs_.clear();
  paths_.clear();
  epoch_ = 0;
}

void RunLog::rollback(size_t mark) {
  epoch_ = 0;
  if (mark >= runs_.size()) return;
  runs_.resize(mark);
  paths_.resize(mark == 0 ? 0 : runs_.back().path_begin + runs_.back().path_size);
}

void RunLog::add(std::span<const NodeKind> path, NodeKind leaf, RunShape shape, size_t begin,
                 size_t end) {
  epoch_ = 0;
  if (begin == end) return;
  bool same_path = false;
  if (!runs_.empty()) {
    Run& last = runs_.back();
    same_path = last.path_size == path.size() &&
                std::equal(path.begin(), path.end(), paths_.begin() + last.path_begin);
    if (same_path && shape == RunShape::Plain && last.shape == RunShape::Plain &&
        last.leaf == leaf && last.end == begin) {
      last.end = end;
      return;
    }
  }
  size_t path_begin = 0;
  if (same_path) {
    path_begin = runs_.back().path_begin;
  } else {
    path_begin = paths_.size();
    paths_.insert(paths_.end(), path.begin(), path.end());
  }
  runs_.push_back(Run{begin, end, path_begin, static_cast<uint32_t>(path.size()), leaf, shape});
}

Node RunLog::build(std::string_view text, NodeKind root_kind) {
  FlatTree tree(text, root_kind, nodes_);
  Replayer replayer(text, tree, replay_path_);
  for (const Run& run : runs_) {
    const std::span<const NodeKind> path(paths_.data() + run.path_begin, run.path_size);
    replayer.replay(path, run.leaf, run.shape, run.begin, run.end);
  }
  t_replayed += runs_.size();
  return tree.materialize();
}

uint64_t RunLog::replayed() {
  return t_replayed;
}

}  // namespace zeviziz
