// Python source parsed and bound, as the indexer does for every file.
//
// The first byte chooses what the binder is told (stub, py.typed, "builtins", a Python version
// from the next two bytes); the rest is the source. Invariants: binding never crashes on a
// parsed module, every bound name is non-empty and has a declaration, and a name flagged as
// listed in `__all__` is in the extracted list.
#include "binder/binder.h"
#include "fuzz_support.h"
#include "python/parser.h"
#include "util/utf8.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t mode = data[0];
  const std::string_view text = fuzz::as_text(data + 3, size - 3);
  if (validate_utf8(text)) return 0;
  auto parsed = python::parse_module(text);
  if (!parsed) return 0;

  binder::FileInfo info;
  info.is_stub = (mode & 1) != 0;
  info.is_py_typed = (mode & 2) != 0;
  if (mode & 4) info.module_name = "builtins";
  if (mode & 8) info.python_version = binder::PythonVersion{data[1], data[2]};
  binder::BinderResult result = binder::Binder(std::move(info)).bind_module(parsed->body());

  for (const auto& [name, symbol] : result.module_scope.symbol_map) {
    FUZZ_CHECK(!name.empty(), "empty name bound");
    if (symbol.flags & binder::SymbolFlags::kInDunderAll) {
      FUZZ_CHECK(result.dunder_all.has_value() && result.dunder_all->contains(name),
                 "kInDunderAll set on a name __all__ does not list");
    }
  }
  return 0;
}
