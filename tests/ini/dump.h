// Test helper: renders an INI table as compact text. Children appear in
// order of appearance; indexed children as #N, named ones by name; strings
// in single quotes, tables in braces.
#pragma once

#include <cstdio>
#include <string>

#include "ini/document.h"

namespace zeviziz {

std::string dump_table(const IniTable& table);

inline std::string dump_node(const IniNode& node) {
  std::string out;
  if (node.scalar) {
    const IniValue& value = *node.scalar;
    if (const auto* text = std::get_if<std::string>(&value)) out = "'" + *text + "'";
    if (const auto* flag = std::get_if<bool>(&value)) out = *flag ? "true" : "false";
    if (const auto* number = std::get_if<int64_t>(&value)) out = std::to_string(*number);
    if (const auto* real = std::get_if<double>(&value)) {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%gd", *real);
      out = buffer;
    }
  }
  if (node.table) out += dump_table(*node.table);
  return out;
}

inline std::string dump_table(const IniTable& table) {
  std::string out = "{";
  for (const IniTable::Child& child : table.children()) {
    if (out.size() > 1) out += " ";
    out += child.indexed ? "#" + std::to_string(child.index) : std::string(child.name);
    out += "=" + dump_node(*child.node);
  }
  return out + "}";
}

}  // namespace zeviziz
