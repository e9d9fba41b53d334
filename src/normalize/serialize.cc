// Serialisation of sub-trees (selectors, at-rule preludes, property names)
// into text before the text-level steps run. The nodes are written in
// pre-order; white space nodes only request a space, which is written before
// the next text when the neighbours allow it, and semicolons are held back
// so that a ";" directly before a closing "}" disappears.
#include <string_view>

#include "normalize/normalize.h"

namespace zeviziz {
namespace {

bool is_one_of(NodeKind kind, std::initializer_list<NodeKind> kinds) {
  for (NodeKind k : kinds) {
    if (k == kind) return true;
  }
  return false;
}

bool ends_with_one_of(const std::string& text, std::string_view set) {
  return !text.empty() && set.find(text.back()) != std::string_view::npos;
}

class Serializer {
 public:
  void visit(const Node& node) {
    const bool space = node.kind == NodeKind::Space || node.kind == NodeKind::Descendant;
    if (space && quote_ != 0) {
      if (!ends_with_one_of(out_, " ")) append(" ");
      return;
    }
    if (space) {
      space_requested_ = true;
      return;
    }
    if (node.kind == NodeKind::Semicolon && quote_ == 0) {
      pending_semicolons_ += node.value.size();
      return;
    }
    if (!node.value.empty()) write(node);
    for (const Node& child : node.children) visit(child);
  }

  std::string finish() {
    out_.append(pending_semicolons_, ';');
    pending_semicolons_ = 0;
    return std::move(out_);
  }

 private:
  void write(const Node& node) {
    if (pending_semicolons_ > 0) {
      if (!(node.kind == NodeKind::Close && node.value == "}")) {
        out_.append(pending_semicolons_, ';');
        last_kind_ = NodeKind::Semicolon;
      }
      pending_semicolons_ = 0;
    }
    if (space_requested_ && space_allowed(node)) out_ += ' ';
    space_requested_ = false;
    append(node.value);
    last_kind_ = node.kind;
  }

  bool space_allowed(const Node& next) const {
    using K = NodeKind;
    if (out_.empty() || ends_with_one_of(out_, "(,;[{ ")) return false;
    if (is_one_of(last_kind_, {K::Child, K::NextSibling, K::SubsequentSibling, K::Open,
                               K::Semicolon, K::Colon, K::Comma})) {
      return false;
    }
    if (is_one_of(next.kind, {K::Child, K::NextSibling, K::SubsequentSibling, K::Close,
                              K::Semicolon, K::Colon, K::Comma})) {
      return false;
    }
    return std::string_view("),;]}").find(next.value.front()) == std::string_view::npos;
  }

  // Appends text and tracks whether the output is inside a quoted string.
  void append(std::string_view text) {
    for (char c : text) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (quote_ != 0) {
        if (c == quote_) quote_ = 0;
      } else if (c == '"' || c == '\'') {
        quote_ = c;
      }
    }
    out_ += text;
  }

  std::string out_;
  NodeKind last_kind_ = NodeKind::Null;
  bool space_requested_ = false;
  size_t pending_semicolons_ = 0;
  char quote_ = 0;
  bool escaped_ = false;
};

}  // namespace

std::string serialize_nodes(std::span<const Node> nodes) {
  Serializer serializer;
  for (const Node& node : nodes) serializer.visit(node);
  return serializer.finish();
}

std::string serialize_node(const Node& node) {
  return serialize_nodes({&node, 1});
}

}  // namespace zeviziz
