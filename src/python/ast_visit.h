// Walking a syntax tree: the direct child nodes of a node, in source order.
//
//   void count(const Node* n, int& names) {
//     if (n->is<Name>()) ++names;
//     for_each_child(n, [&](const Node* c) { count(c, names); });
//   }
//
// Children held in helper records (arguments, keywords, handlers, comprehensions, cases,
// clauses) are visited as children of the node that holds the record. Absent optional children
// are skipped.
#pragma once

#include <functional>

#include "python/ast.h"

namespace korvane::python {

void for_each_child(const Node* node, const std::function<void(const Node*)>& visit);

}  // namespace korvane::python
