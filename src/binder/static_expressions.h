// Deciding `if` tests without running anything: `sys.version_info` comparisons against the
// configured Python version, `TYPE_CHECKING` (always false here) and `not`/`and`/`or` over them.
//
//   using namespace korvane::binder::static_expressions;
//   StaticBool b = evaluate_static_bool_expression(*if_stmt->test, PythonVersion{3, 10}, {});
//   if (b == StaticBool::False) skip(if_stmt->body);
//
// Every function is pure and allocation-free; anything outside the recognised forms is Unknown.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <absl/container/inlined_vector.h>

#include "python/ast.h"

namespace korvane::binder {

// The Python version a module is read for.
struct PythonVersion {
  uint8_t major = 0;
  uint8_t minor = 0;
  friend bool operator==(PythonVersion, PythonVersion) = default;
};

// Three-valued answer: a test that cannot be decided keeps every branch.
enum class StaticBool : uint8_t { False, True, Unknown };

namespace static_expressions {

// Which part of `sys.version_info` an expression denotes: the (major, minor) pair, or one item.
enum class VersionInfoAccess : uint8_t { Whole, Major, Minor };

// Numbers written on the other side of a version comparison; never empty.
using VersionTuple = absl::InlinedVector<uint8_t, 4>;

// True, False or Unknown for `expr` under `version`. `sys_alias` is the name bound by the last
// `import sys as X` seen so far; without a version every comparison is Unknown.
StaticBool evaluate_static_bool_expression(const python::Expr& expr,
                                           std::optional<PythonVersion> version,
                                           std::optional<std::string_view> sys_alias);

// `sys.version_info` (Whole), `sys.version_info[:2]` (Whole), `[0]` (Major), `[1]` (Minor),
// with `sys` or its alias; nullopt for anything else.
std::optional<VersionInfoAccess> extract_version_info_value(
    const python::Expr& expr, std::optional<std::string_view> sys_alias);

// An integer literal or a non-empty tuple of integer literals, each at most 255.
std::optional<VersionTuple> extract_version_tuple(const python::Expr& expr);

// Compares the configured version with `tuple`, the version on the left of `op`. Major/Minor
// need a one-element tuple (Unknown otherwise); Whole pads a missing minor with 0 and ignores
// items past the second. Identity and membership operators give False.
StaticBool evaluate_version_binary_operation(uint8_t major, uint8_t minor, VersionInfoAccess access,
                                             python::CmpOperator op, const VersionTuple& tuple);

}  // namespace static_expressions
}  // namespace korvane::binder
