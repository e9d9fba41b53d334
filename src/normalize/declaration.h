// Normalisation of one property declaration, shared by the working-region
// step (which stores the result in the tree) and the flattening of regions.
#pragma once

#include <string>

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

}  // namespace zeviziz
