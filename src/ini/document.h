// The INI document: a tree of tables and scalar values built line by line by
// the parser, and the typed readings with which the configuration takes
// values out of it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/result.h"
#include "ini/syntax.h"

namespace zeviziz {

class IniTable;

// One slot of the tree: an optional scalar and an optional table, held
// independently (`a=1` together with `a[x]=2` gives both).
struct IniNode {
  IniNode();
  ~IniNode();
  IniNode(IniNode&&) noexcept;
  IniNode& operator=(IniNode&&) noexcept;

  std::optional<IniValue> scalar;
  std::unique_ptr<IniTable> table;

  // Gives the node an empty table when it has none; returns the table.
  IniTable& ensure_table();
};

// Indexed children (slots 0..65535, holes allowed), named children (unique
// names, in order of first appearance) and the order in which slots and names
// were first filled. Destruction is iterative, so deep nesting is safe.
class IniTable {
 public:
  // One child in order of appearance: an indexed slot or a named child.
  struct Child {
    bool indexed = false;
    uint32_t index = 0;     // for indexed children
    std::string_view name;  // for named children
    const IniNode* node = nullptr;
  };

  IniTable();
  ~IniTable();
  IniTable(IniTable&&) noexcept;
  IniTable& operator=(IniTable&&) noexcept;

  // The named child `name`, or nullptr.
  const IniNode* find(std::string_view name) const;
  IniNode* find(std::string_view name);
  // Number of indexed slots: highest filled index plus one (0 when none).
  size_t indexed_size() const;
  // The node in slot `index`, or nullptr for a hole or a slot past the end.
  const IniNode* at(uint32_t index) const;
  IniNode* at(uint32_t index);
  size_t named_count() const { return named_.size(); }
  // Every child in order of appearance.
  std::vector<Child> children() const;

  // Builders: append a named child (the name must be new), fill a hole, or
  // append a slot at index indexed_size(); each records the order of
  // appearance and returns the new node.
  IniNode& add_named(std::string name, IniNode node);
  IniNode& add_indexed(uint32_t index, IniNode node);

 private:
  friend void detach_child_tables(IniTable& table, std::vector<std::unique_ptr<IniTable>>& out);

  struct Appearance {
    bool indexed;
    uint32_t position;  // index, or position in named_
  };

  std::map<uint32_t, IniNode> indexed_;
  std::vector<std::pair<std::string, IniNode>> named_;
  // Hash that also accepts string_view, so lookups need no copy of the name.
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };

  std::unordered_map<std::string, uint32_t, NameHash, std::equal_to<>> named_positions_;
  std::vector<Appearance> order_;
};

// The document under construction: the root table and the target of the
// following key lines (the root, or the last opened section).
class IniDocument {
 public:
  const IniTable& root() const { return root_; }

  // Gets or creates the root's named child `name`, gives it a table if it
  // has none, and makes that table the target of the following key lines.
  void open_section(std::string_view name);

  // Assigns `values` (one or more) to every combination of `key` in the
  // current target. Fails with "Array index too large", "Duplicate key",
  // "Multiple values require [] or a numeric index", or "Too many array key
  // combinations" (before anything is created) when the bytes of key names
  // and values that its alternatives would create exceed a fixed budget for
  // the whole document.
  Status assign(const KeyPattern& key, const std::vector<IniValue>& values);

 private:
  IniTable& target() { return section_ != nullptr ? *section_ : root_; }
  Status charge_combinations(const KeyPattern& key, const std::vector<IniValue>& values);

  IniTable root_;
  IniTable* section_ = nullptr;  // section tables live on the heap: stable on move
  uint64_t expansion_spent_ = 0;
};

// Typed readings. `name` is the display name used in messages.

// The node's string scalar; else "Config value must be a string: " + name.
Result<std::string> read_string(const IniNode& node, std::string_view name);

// The node's boolean scalar; else name + " must be true or false".
Result<bool> read_bool(const IniNode& node, std::string_view name);

// The node's table; else "Config value must be a collection: " + name.
Result<const IniTable*> read_collection(const IniNode& node, std::string_view name);

// The strings of a table without named children, in order of appearance,
// holes skipped. Fails with "Config value must be a collection: " + name,
// name + " must be a list" or "Config value must be a string: " + name.
Result<std::vector<std::string>> read_string_list(const IniNode& node, std::string_view name);

// The strings of slots 0 and 1 of a table with exactly two filled slots and
// no named children. Fails with "Config value must be a collection: " +
// name, name + " must contain exactly two strings" or "Config value must be a
// string: " + name.
Result<std::pair<std::string, std::string>> read_string_pair(const IniNode& node,
                                                             std::string_view name);

// The non-empty string of key `key` of `table`. Fails with "Missing config
// key: " + name (absent or empty) or "Config value must be a string: " +
// name.
Result<std::string> read_required_string(const IniTable& table, std::string_view key,
                                         std::string_view name);

}  // namespace zeviziz
