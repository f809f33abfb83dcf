#include "protocol/index_files.h"

#include <string>

#include <gtest/gtest.h>

#include "json/reader.h"

namespace korvane::protocol {
namespace {

Result<IndexFilesParams> decode_text(const char* text) {
  auto value = json::parse(text);
  if (!value) return Unexpected("bad test JSON: " + value.error());
  return decode_index_files_params(*value);
}

// Each row is one decoding text a client can see inside "Invalid indexFiles params: {}".
TEST(DecodeIndexFilesParams, RefusesWithTheClientVisibleText) {
  struct Case {
    const char* params;
    const char* error;
  };
  const Case cases[] = {
      {"null", "invalid type: null, expected struct IndexFilesParams"},
      {"5", "invalid type: integer `5`, expected struct IndexFilesParams"},
      {"{}", "missing field `files`"},
      {"[]", "invalid length 0, expected struct IndexFilesParams with 2 elements"},
      {"[[],null,1]", "invalid length 3, expected fewer elements in array"},
      {R"({"files":{}})", "invalid type: map, expected a sequence"},
      {R"({"files":[5]})", "invalid type: integer `5`, expected struct FileToIndex"},
      {R"({"files":[{}]})", "missing field `path`"},
      {R"({"files":[[]]})", "invalid length 0, expected struct FileToIndex with 8 elements"},
      {R"({"files":[{"path":null}]})", "invalid type: null, expected a string"},
      {R"({"files":[{"path":"a","isStub":null}]})", "invalid type: null, expected a boolean"},
      {R"({"files":[{"path":"a","includeAllSymbols":1}]})",
       "invalid type: integer `1`, expected a boolean"},
      {R"({"files":[{"path":"a","moduleName":3}]})",
       "invalid type: integer `3`, expected a string"},
      {R"({"files":[{"path":"a","mtime":true}]})", "invalid type: boolean `true`, expected f64"},
      {R"({"files":[{"path":"a","size":"1"}]})", R"(invalid type: string "1", expected f64)"},
      {R"({"files":[["a",null,false,false,false,false,1,2,3]]})",
       "invalid length 9, expected fewer elements in array"},
      // One bad file fails the whole batch.
      {R"({"files":[{"path":"a"},{"path":1}]})", "invalid type: integer `1`, expected a string"},
      {R"({"files":[],"searchPaths":5})",
       "invalid type: integer `5`, expected struct SearchPathsConfig"},
      {R"({"files":[],"searchPaths":{"extraPaths":null}})",
       "invalid type: null, expected a sequence"},
      {R"({"files":[],"searchPaths":{"workspaceRoots":[1]}})",
       "invalid type: integer `1`, expected a string"},
      {R"({"files":[],"searchPaths":[[],[],null,null,[],null,7]})",
       "invalid length 7, expected fewer elements in array"},
      {R"({"files":[],"searchPaths":{"pythonVersion":{"major":3}}})", "missing field `minor`"},
      {R"({"files":[],"searchPaths":{"pythonVersion":[]}})",
       "invalid length 0, expected struct PythonVersionConfig with 2 elements"},
      {R"({"files":[],"searchPaths":{"pythonVersion":[3]}})",
       "invalid length 1, expected struct PythonVersionConfig with 2 elements"},
      {R"({"files":[],"searchPaths":{"pythonVersion":[3,12,0]}})",
       "invalid length 3, expected fewer elements in array"},
      {R"({"files":[],"searchPaths":{"pythonVersion":"3.12"}})",
       R"(invalid type: string "3.12", expected struct PythonVersionConfig)"},
      {R"({"files":[],"searchPaths":{"pythonVersion":[256,0]}})",
       "invalid value: integer `256`, expected u8"},
      {R"({"files":[],"searchPaths":{"pythonVersion":[3,-1]}})",
       "invalid value: integer `-1`, expected u8"},
      {R"({"files":[],"searchPaths":{"pythonVersion":[3.5,1]}})",
       "invalid type: floating point `3.5`, expected u8"},
      {R"({"files":[],"searchPaths":{"pythonVersion":[3.0,1]}})",
       "invalid type: floating point `3.0`, expected u8"},
      {R"({"files":[],"searchPaths":{"pythonVersion":[true,1]}})",
       "invalid type: boolean `true`, expected u8"},
      {R"({"files":[],"searchPaths":{"pythonVersion":[null,1]}})",
       "invalid type: null, expected u8"},
      // Members of a value are taken in ascending name order: `files` fails before `searchPaths`.
      {R"({"searchPaths":5,"files":5})", "invalid type: integer `5`, expected a sequence"},
  };
  for (const auto& c : cases) {
    auto got = decode_text(c.params);
    ASSERT_FALSE(got) << c.params;
    EXPECT_EQ(got.error(), c.error) << c.params;
  }
}

TEST(DecodeIndexFilesParams, FillsDefaultsInBothForms) {
  auto empty = decode_text(R"({"files":[]})");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->files.empty());
  EXPECT_FALSE(empty->search_paths);

  auto null_paths = decode_text(R"([[],null])");
  ASSERT_TRUE(null_paths);
  EXPECT_FALSE(null_paths->search_paths);

  // An empty search-path record is present and empties every list: it differs from null.
  auto empty_paths = decode_text(R"({"files":[],"searchPaths":{}})");
  ASSERT_TRUE(empty_paths);
  EXPECT_EQ(empty_paths->search_paths, SearchPathsConfig{});
  auto short_array = decode_text(R"({"files":[],"searchPaths":[]})");
  ASSERT_TRUE(short_array);
  EXPECT_EQ(short_array->search_paths, SearchPathsConfig{});

  auto only_path = decode_text(R"({"files":[["/p/a.py"]],"unknown":{"x":[1]}})");
  ASSERT_TRUE(only_path);
  FileToIndex want;
  want.path = "/p/a.py";
  EXPECT_EQ(only_path->files, std::vector<FileToIndex>{want});
}

TEST(DecodeIndexFilesParams, KeepsEveryMemberAsGiven) {
  auto got = decode_text(R"({"files":[
      {"path":"./x/../A.py","moduleName":"pkg.a","includeAllSymbols":true,"isStub":true,
       "isPyTyped":true,"indexingForAutoImportMode":true,"mtime":170,"size":10.5,"extra":null},
      ["b.py",null,false,true,false,false,-3,null]],
    "searchPaths":{"extraPaths":["e1","e2"],"workspaceRoots":["w"],"typeshedStdlibPath":"ts",
      "typeshedThirdpartyPath":null,"sitePackagesPaths":["s"],"pythonVersion":[3,12]}})");
  ASSERT_TRUE(got) << got.error();
  ASSERT_EQ(got->files.size(), 2u);
  const FileToIndex& a = got->files[0];
  EXPECT_EQ(a.path, "./x/../A.py");
  EXPECT_EQ(a.module_name, "pkg.a");
  EXPECT_TRUE(a.include_all_symbols && a.is_stub && a.is_py_typed);
  EXPECT_TRUE(a.indexing_for_auto_import_mode);
  EXPECT_EQ(a.mtime, 170.0);
  EXPECT_EQ(a.size, 10.5);
  const FileToIndex& b = got->files[1];
  EXPECT_FALSE(b.module_name);
  EXPECT_TRUE(b.is_stub);
  EXPECT_EQ(b.mtime, -3.0);
  EXPECT_FALSE(b.size);
  SearchPathsConfig want{{"e1", "e2"}, {"w"}, "ts",
                         std::nullopt, {"s"}, PythonVersionConfig{3, 12}};
  EXPECT_EQ(got->search_paths, want);
}

TEST(WriteIndexFilesResult, MembersInWireOrderAndAbsentOnesLeftOut) {
  IndexFilesResult result;
  result.elapsed_ms = 7;
  FileIndexResult plain;
  plain.path = "a.py";
  plain.symbols.push_back({"A", 3, 14, std::nullopt});
  plain.symbols.push_back({"f", 1, 12, SymbolAlias{"f", "..m", 13}});
  FileIndexResult served;
  served.path = "b\t\"c\".py";
  served.error = "Failed to read file: x";
  served.cached = true;
  result.results = {plain, served};
  EXPECT_EQ(to_json_text(result),
            R"({"elapsedMs":7,"results":[)"
            R"({"path":"a.py","privateOrProtected":false,"symbols":[)"
            R"({"kind":14,"name":"A","visibilityFlags":3},)"
            R"({"alias":{"kind":13,"moduleUri":"..m","originalName":"f"},"kind":12,"name":"f",)"
            R"("visibilityFlags":1}]},)"
            R"({"cached":true,"error":"Failed to read file: x","path":"b\t\"c\".py",)"
            R"("privateOrProtected":false,"symbols":[]}]})");
  result.cache_hits = 1;
  // Results encoded one by one assemble into the same text.
  std::vector<std::string> pieces(result.results.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) append_json(pieces[i], result.results[i]);
  EXPECT_EQ(to_json_text(result, pieces), to_json_text(result));
  result.results.clear();
  EXPECT_EQ(to_json_text(result), R"({"cacheHits":1,"elapsedMs":7,"results":[]})");
  EXPECT_EQ(to_json_text(result, {}), to_json_text(result));
}

}  // namespace
}  // namespace korvane::protocol
