// The INI document tree and its typed readings. Tables keep indexed children
// in an ordered map (holes cost nothing, so `a[65535]=1` stays small), named
// children in a vector with a hash index for lookup, and a separate list for
// the order of appearance. Assignment walks one combination of the key's
// alternatives at a time; a document-wide budget stops alternatives from
// multiplying a small input into a huge tree.
#include "ini/document.h"

namespace zeviziz {
namespace {

// Upper bound on what array-key alternatives may create in one document, in
// bytes of key names and values (with a fixed share per node).
constexpr uint64_t kExpansionBudget = uint64_t{1} << 24;

// The share of one node and its table in the expansion budget.
constexpr uint64_t kNodeCost = 64;

// Tables with at most this many named children find names by a linear scan.
constexpr size_t kLinearLookupLimit = 8;

uint64_t saturating_multiply(uint64_t a, uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
  return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

uint64_t value_cost(const std::vector<IniValue>& values) {
  uint64_t cost = 0;
  for (const IniValue& value : values) {
    cost += kNodeCost;
    if (const auto* text = std::get_if<std::string>(&value)) cost += text->size();
  }
  return cost;
}

// The bytes that assigning every combination of `key` may create: each
// combination's path (a node and the name of each segment) and its own copy
// of the values. Alternative a of group g lies on combinations / |g| paths.
// Saturates at UINT64_MAX.
uint64_t expansion_cost(const KeyPattern& key, const std::vector<IniValue>& values,
                        uint64_t combinations) {
  uint64_t cost = saturating_multiply(combinations, value_cost(values));
  for (const auto& group : key.groups) {
    uint64_t group_cost = 0;
    for (const KeySegment& segment : group) {
      group_cost = saturating_add(group_cost, kNodeCost + segment.name.size());
    }
    cost = saturating_add(cost, saturating_multiply(group_cost, combinations / group.size()));
  }
  return cost;
}

IniNode node_with_table() {
  IniNode node;
  node.ensure_table();
  return node;
}

IniNode node_with_value(const IniValue& value) {
  IniNode node;
  node.scalar = value;
  return node;
}

Error index_too_large() {
  return make_error("Array index too large");
}
Error duplicate_key() {
  return make_error("Duplicate key");
}

// Moves into the named child `name`, creating it and its table as needed.
IniTable& descend_named(IniTable& table, const std::string& name) {
  IniNode* node = table.find(name);
  if (node == nullptr) return *table.add_named(name, node_with_table()).table;
  return node->ensure_table();
}

// Moves into the child that `segment` selects, creating it as needed.
Result<IniTable*> descend(IniTable& table, const KeySegment& segment) {
  switch (segment.kind) {
    case KeySegment::Kind::Name:
      return &descend_named(table, segment.name);
    case KeySegment::Kind::Push: {
      const size_t index = table.indexed_size();
      if (index > kMaxIniIndex) return index_too_large();
      return table.add_indexed(static_cast<uint32_t>(index), node_with_table()).table.get();
    }
    case KeySegment::Kind::Index:
      break;
  }
  IniNode* node = table.at(segment.index);
  if (node == nullptr) return table.add_indexed(segment.index, node_with_table()).table.get();
  return &node->ensure_table();
}

// Puts `value` into `node` (which may be absent: then a new child is made by
// `add`), failing when the node already holds a scalar.
template <typename Add>
Status fill(IniNode* node, const IniValue& value, Add add) {
  if (node == nullptr) {
    add(node_with_value(value));
    return {};
  }
  if (node->scalar) return duplicate_key();
  node->scalar = value;
  return {};
}

Status receive_named(IniTable& table, const std::string& name,
                     const std::vector<IniValue>& values) {
  if (values.size() > 1) return make_error("Multiple values require [] or a numeric index");
  return fill(table.find(name), values.front(),
              [&](IniNode node) { table.add_named(name, std::move(node)); });
}

Status receive_pushed(IniTable& table, const std::vector<IniValue>& values) {
  for (const IniValue& value : values) {
    const size_t index = table.indexed_size();
    if (index > kMaxIniIndex) return index_too_large();
    table.add_indexed(static_cast<uint32_t>(index), node_with_value(value));
  }
  return {};
}

Status receive_indexed(IniTable& table, uint32_t first, const std::vector<IniValue>& values) {
  for (size_t k = 0; k < values.size(); ++k) {
    if (first + k > kMaxIniIndex) return index_too_large();
    const auto index = static_cast<uint32_t>(first + k);
    ZV_TRY_STATUS(fill(table.at(index), values[k],
                       [&](IniNode node) { table.add_indexed(index, std::move(node)); }));
  }
  return {};
}

Status receive(IniTable& table, const KeySegment& last, const std::vector<IniValue>& values) {
  switch (last.kind) {
    case KeySegment::Kind::Push:
      return receive_pushed(table, values);
    case KeySegment::Kind::Index:
      return receive_indexed(table, last.index, values);
    case KeySegment::Kind::Name:
      break;
  }
  return receive_named(table, last.name, values);
}

// Assigns `values` to the one key path chosen by `choice` (an alternative
// per group).
Status assign_path(IniTable& target, const KeyPattern& key, const std::vector<size_t>& choice,
                   const std::vector<IniValue>& values) {
  if (key.groups.empty()) return receive_named(target, key.base, values);
  IniTable* table = &descend_named(target, key.base);
  for (size_t g = 0; g + 1 < key.groups.size(); ++g) {
    ZV_TRY(table, descend(*table, key.groups[g][choice[g]]));
  }
  return receive(*table, key.groups.back()[choice.back()], values);
}

// Steps `choice` to the next combination, last group fastest; false after
// the last one.
bool next_combination(const KeyPattern& key, std::vector<size_t>& choice) {
  for (size_t g = choice.size(); g > 0; --g) {
    if (++choice[g - 1] < key.groups[g - 1].size()) return true;
    choice[g - 1] = 0;
  }
  return false;
}

}  // namespace

IniNode::IniNode() = default;
IniNode::~IniNode() = default;
IniNode::IniNode(IniNode&&) noexcept = default;
IniNode& IniNode::operator=(IniNode&&) noexcept = default;

IniTable& IniNode::ensure_table() {
  if (!table) table = std::make_unique<IniTable>();
  return *table;
}

// Moves every child's table out of `table` into `out`.
void detach_child_tables(IniTable& table, std::vector<std::unique_ptr<IniTable>>& out) {
  for (auto& [index, node] : table.indexed_) {
    if (node.table) out.push_back(std::move(node.table));
  }
  for (auto& [name, node] : table.named_) {
    if (node.table) out.push_back(std::move(node.table));
  }
}

IniTable::IniTable() = default;
IniTable::IniTable(IniTable&&) noexcept = default;
IniTable& IniTable::operator=(IniTable&&) noexcept = default;

IniTable::~IniTable() {
  std::vector<std::unique_ptr<IniTable>> pending;
  detach_child_tables(*this, pending);
  while (!pending.empty()) {
    std::unique_ptr<IniTable> table = std::move(pending.back());
    pending.pop_back();
    detach_child_tables(*table, pending);
  }
}

const IniNode* IniTable::find(std::string_view name) const {
  if (named_.size() <= kLinearLookupLimit) {
    for (const auto& [child_name, node] : named_) {
      if (child_name == name) return &node;
    }
    return nullptr;
  }
  const auto it = named_positions_.find(name);
  return it == named_positions_.end() ? nullptr : &named_[it->second].second;
}

IniNode* IniTable::find(std::string_view name) {
  return const_cast<IniNode*>(std::as_const(*this).find(name));
}

size_t IniTable::indexed_size() const {
  return indexed_.empty() ? 0 : size_t{indexed_.rbegin()->first} + 1;
}

const IniNode* IniTable::at(uint32_t index) const {
  const auto it = indexed_.find(index);
  return it == indexed_.end() ? nullptr : &it->second;
}

IniNode* IniTable::at(uint32_t index) {
  return const_cast<IniNode*>(std::as_const(*this).at(index));
}

std::vector<IniTable::Child> IniTable::children() const {
  std::vector<Child> children;
  children.reserve(order_.size());
  for (const Appearance& entry : order_) {
    if (entry.indexed) {
      children.push_back(Child{true, entry.position, {}, at(entry.position)});
    } else {
      const auto& [name, node] = named_[entry.position];
      children.push_back(Child{false, 0, name, &node});
    }
  }
  return children;
}

IniNode& IniTable::add_named(std::string name, IniNode node) {
  const auto position = static_cast<uint32_t>(named_.size());
  named_.emplace_back(std::move(name), std::move(node));
  if (named_.size() > kLinearLookupLimit) {
    // Small tables search their few names directly; larger ones index them.
    if (named_positions_.empty()) {
      for (uint32_t i = 0; i < position; ++i) named_positions_.emplace(named_[i].first, i);
    }
    named_positions_.emplace(named_.back().first, position);
  }
  order_.push_back(Appearance{false, position});
  return named_.back().second;
}

IniNode& IniTable::add_indexed(uint32_t index, IniNode node) {
  IniNode& slot = indexed_.emplace(index, std::move(node)).first->second;
  order_.push_back(Appearance{true, index});
  return slot;
}

void IniDocument::open_section(std::string_view name) {
  IniNode* node = root_.find(name);
  if (node == nullptr) node = &root_.add_named(std::string(name), IniNode());
  section_ = &node->ensure_table();
}

Status IniDocument::charge_combinations(const KeyPattern& key,
                                        const std::vector<IniValue>& values) {
  uint64_t combinations = 1;
  for (const auto& group : key.groups)
    combinations = saturating_multiply(combinations, group.size());
  // A key without alternatives creates no more than its line holds.
  if (combinations <= 1) return {};
  const uint64_t cost = expansion_cost(key, values, combinations);
  if (cost > kExpansionBudget - expansion_spent_) {
    return make_error("Too many array key combinations");
  }
  expansion_spent_ += cost;
  return {};
}

Status IniDocument::assign(const KeyPattern& key, const std::vector<IniValue>& values) {
  ZV_TRY_STATUS(charge_combinations(key, values));
  std::vector<size_t> choice(key.groups.size(), 0);
  do {
    ZV_TRY_STATUS(assign_path(target(), key, choice, values));
  } while (next_combination(key, choice));
  return {};
}

Result<std::string> read_string(const IniNode& node, std::string_view name) {
  if (node.scalar) {
    if (const auto* text = std::get_if<std::string>(&*node.scalar)) return *text;
  }
  return make_error("Config value must be a string: " + std::string(name));
}

Result<bool> read_bool(const IniNode& node, std::string_view name) {
  if (node.scalar) {
    if (const auto* flag = std::get_if<bool>(&*node.scalar)) return *flag;
  }
  return make_error(std::string(name) + " must be true or false");
}

Result<const IniTable*> read_collection(const IniNode& node, std::string_view name) {
  if (!node.table) return make_error("Config value must be a collection: " + std::string(name));
  return static_cast<const IniTable*>(node.table.get());
}

Result<std::vector<std::string>> read_string_list(const IniNode& node, std::string_view name) {
  ZV_TRY(const IniTable* table, read_collection(node, name));
  if (table->named_count() > 0) return make_error(std::string(name) + " must be a list");
  std::vector<std::string> items;
  for (const IniTable::Child& child : table->children()) {
    ZV_TRY(std::string item, read_string(*child.node, name));
    items.push_back(std::move(item));
  }
  return items;
}

Result<std::pair<std::string, std::string>> read_string_pair(const IniNode& node,
                                                             std::string_view name) {
  ZV_TRY(const IniTable* table, read_collection(node, name));
  const IniNode* first = table->at(0);
  const IniNode* second = table->at(1);
  if (table->named_count() > 0 || table->indexed_size() != 2 || !first || !second) {
    return make_error(std::string(name) + " must contain exactly two strings");
  }
  ZV_TRY(std::string open, read_string(*first, name));
  ZV_TRY(std::string close, read_string(*second, name));
  return std::pair{std::move(open), std::move(close)};
}

Result<std::string> read_required_string(const IniTable& table, std::string_view key,
                                         std::string_view name) {
  const IniNode* node = table.find(key);
  if (node == nullptr) return make_error("Missing config key: " + std::string(name));
  ZV_TRY(std::string value, read_string(*node, name));
  if (value.empty()) return make_error("Missing config key: " + std::string(name));
  return value;
}

}  // namespace zeviziz
