// Normalisation of one property declaration, shared by the working-region
// step (which stores the result in the tree) and the flattening of regions.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "lexer/node.h"

namespace zeviziz {

struct NormalizedDeclaration {
  std::string property;
  std::string value;
  // An Attribute node holding the normalised texts: a Name child with the
  // property and a Value child whose pieces are Text nodes and the protected
  // Parenthesis and StringValue groups. Normalising it again gives the same
  // texts.
  Node node;
};

// Normalises the declaration `attribute` (an Attribute node of a block).
// Fails with "Missing normalized property name" without a Name child and
// "Missing normalized property value" without a Value child.
Result<NormalizedDeclaration> normalize_declaration(const Node& attribute);

// Reads the texts of a declaration that is already in the form of
// NormalizedDeclaration::node (a Name leaf, then a Value whose pieces are
// Text nodes and childless groups; the lexer never builds that shape) and
// appends (property, value) to `out`. Returns false, appending nothing, for
// any other shape, which then needs normalize_declaration.
bool read_normalized_declaration(const Node& attribute,
                                 std::vector<std::pair<std::string, std::string>>& out);

}  // namespace zeviziz
