// A compact, one-line text form of a syntax tree, for tests and the parser's diagnostics tool.
//
//   dump(parsed->body())  ->  "[Assign([Name(x)], Int(1))]"
//
// Each node prints as Kind(fields...) in the field order of ast.h; optional children that are
// absent print as `-`; identifiers print bare, literal texts quoted.
#pragma once

#include <string>

#include "python/ast.h"

namespace korvane::python {

std::string dump(StmtList body);
std::string dump(const Node* node);

}  // namespace korvane::python
