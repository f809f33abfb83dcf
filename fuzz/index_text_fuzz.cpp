// A file's text through the per-file pipeline after the read: the text rule, parse, bind,
// symbol conversion, and the result written as the reply would carry it.
//
// The first byte holds the file's flags (stub, py.typed, all symbols) and whether a Python
// version is set; the rest is the text. Invariants: names are unique and non-empty, kinds and
// visibility bits are ones a client knows, and the written result reads back as JSON.
#include <set>
#include <string>

#include "fuzz_support.h"
#include "indexer/indexer.h"
#include "indexer/symbol_rules.h"
#include "json/reader.h"
#include "protocol/index_files.h"
#include "server/index_files_records.h"
#include "util/utf8.h"

using namespace korvane;

namespace {

bool known_kind(uint32_t kind) {
  return kind == 2 || kind == 5 || kind == 12 || kind == 13 || kind == 14 || kind == 26;
}

void check_result(const protocol::FileIndexResult& result) {
  std::set<std::string> names;
  for (const protocol::IndexedSymbol& s : result.symbols) {
    FUZZ_CHECK(!s.name.empty(), "empty symbol name");
    FUZZ_CHECK(names.insert(s.name).second, "symbol listed twice");
    FUZZ_CHECK(known_kind(s.kind), "unknown symbol kind");
    FUZZ_CHECK(s.visibility_flags >= 1 && s.visibility_flags <= 3, "unknown visibility bits");
    if (s.alias) FUZZ_CHECK(s.alias->kind == 13, "alias kind is not variable");
  }
  protocol::IndexFilesResult reply;
  reply.results.push_back(result);
  auto parsed = json::parse(protocol::to_json_text(reply));
  FUZZ_CHECK(parsed.has_value(), "result does not read back as JSON");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const std::string_view text = fuzz::as_text(data + 1, size - 1);
  if (validate_utf8(text)) return 0;  // the read refuses such files

  indexer::FileToIndex file;
  file.path = "/fuzz/mod.py";
  file.is_stub = (mode & 1) != 0;
  file.is_py_typed = (mode & 2) != 0;
  file.include_all_symbols = (mode & 4) != 0;
  indexer::Indexer indexer;
  if (mode & 8) {
    indexer.configure_search_paths({}, binder::PythonVersion{3, static_cast<uint8_t>(mode >> 4)});
  }

  if (auto skipped = indexer::Indexer::check_fast_path_skip(file, text)) {
    FUZZ_CHECK(skipped->symbols.empty() && !skipped->error, "a skipped file carries symbols");
    return 0;
  }
  indexer::FileIndexResult result;
  result.path = file.path;
  if (auto symbols = indexer.extract_symbols(file, text)) {
    result.symbols = std::move(*symbols);
    indexer::dedup_symbols(result.symbols);
  } else {
    result.error = "Parse error: " + symbols.error();
  }
  check_result(server::to_protocol(std::move(result)));
  return 0;
}
