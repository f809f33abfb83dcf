#include "protocol/scan_packages.h"

#include <gtest/gtest.h>

#include <string>

#include "json/reader.h"

namespace korvane::protocol {
namespace {

Result<ScanPackagesParams> decode_text(const char* text) {
  auto value = json::parse(text);
  if (!value) return Unexpected("bad test JSON: " + value.error());
  return decode_scan_packages_params(*value);
}

// Each row is one decoding text a client can see inside "Invalid scanPackages params: {}".
TEST(DecodeScanPackagesParams, RefusesWithTheClientVisibleText) {
  struct Case {
    const char* params;
    const char* error;
  };
  const Case cases[] = {
      {"null", "invalid type: null, expected struct ScanPackagesParams"},
      {R"("r")", R"(invalid type: string "r", expected struct ScanPackagesParams)"},
      {"{}", "missing field `searchRoots`"},
      {R"({"searchRoots":null})", "invalid type: null, expected a sequence"},
      {R"({"searchRoots":"/r"})", R"(invalid type: string "/r", expected a sequence)"},
      {R"({"searchRoots":[1]})", "invalid type: integer `1`, expected a string"},
      {"[]", "invalid length 0, expected struct ScanPackagesParams with 7 elements"},
      {R"(["/r"])", R"(invalid type: string "/r", expected a sequence)"},
      {R"([[],null,null,null,null,[],true,0])",
       "invalid length 8, expected fewer elements in array"},
      {R"({"searchRoots":[],"includeThirdParty":null})", "invalid type: null, expected a boolean"},
      {R"({"searchRoots":[],"typeshedStdlibPath":7})",
       "invalid type: integer `7`, expected a string"},
      {R"({"searchRoots":[],"packageDepths":null})", "invalid type: null, expected a sequence"},
      {R"({"searchRoots":[],"packageDepths":{}})", "invalid type: map, expected a sequence"},
      {R"({"searchRoots":[],"packageDepths":["x"]})",
       R"(invalid type: string "x", expected struct PackageDepthConfig)"},
      {R"({"searchRoots":[],"packageDepths":[{"name":"x","maxDepth":1}]})",
       "missing field `includeAllSymbols`"},
      {R"({"searchRoots":[],"packageDepths":[{"maxDepth":1,"includeAllSymbols":true}]})",
       "missing field `name`"},
      {R"({"searchRoots":[],"packageDepths":[["x",1]]})",
       "invalid length 2, expected struct PackageDepthConfig with 3 elements"},
      {R"({"searchRoots":[],"packageDepths":[[null,1,true]]})",
       "invalid type: null, expected a string"},
      {R"({"searchRoots":[],"packageDepths":[["x",1,true,4]]})",
       "invalid length 4, expected fewer elements in array"},
      {R"({"searchRoots":[],"defaultDepthLimit":{"maxDepth":2}})",
       "missing field `includeAllSymbols`"},
      {R"({"searchRoots":[],"defaultDepthLimit":{"maxDepth":-1,"includeAllSymbols":true}})",
       "invalid value: integer `-1`, expected u32"},
      {R"({"searchRoots":[],"defaultDepthLimit":{"maxDepth":1.5,"includeAllSymbols":true}})",
       "invalid type: floating point `1.5`, expected u32"},
      {R"({"searchRoots":[],"defaultDepthLimit":{"maxDepth":4294967296,"includeAllSymbols":true}})",
       "invalid value: integer `4294967296`, expected u32"},
      {R"({"searchRoots":[],"defaultDepthLimit":{"maxDepth":null,"includeAllSymbols":true}})",
       "invalid type: null, expected u32"},
      {R"({"searchRoots":[],"defaultDepthLimit":[1]})",
       "invalid length 1, expected struct DepthLimitConfig with 2 elements"},
      {R"({"searchRoots":[],"defaultDepthLimit":true})",
       "invalid type: boolean `true`, expected struct DepthLimitConfig"},
      // Members of a value are taken in ascending name order.
      {R"({"searchRoots":5,"includeThirdParty":5})",
       "invalid type: integer `5`, expected a boolean"},
  };
  for (const auto& c : cases) {
    auto got = decode_text(c.params);
    ASSERT_FALSE(got) << c.params;
    EXPECT_EQ(got.error(), c.error) << c.params;
  }
}

TEST(DecodeScanPackagesParams, DefaultsAndForms) {
  const ScanPackagesParams defaults{{"/r"}, {}, {}, {}, {}, {}, true};
  struct Case {
    const char* params;
    ScanPackagesParams want;
  };
  const Case cases[] = {
      {R"({"searchRoots":[]})", {{}, {}, {}, {}, {}, {}, true}},
      {R"({"searchRoots":["/r"]})", defaults},
      {R"([["/r"]])", defaults},
      {R"([["/r"],null,null])", defaults},
      {R"({"searchRoots":["/r"],"typeshedStdlibPath":null,"defaultDepthLimit":null,"x":{"y":1}})",
       defaults},
      {R"({"searchRoots":["/r"],"typeshedStdlibPath":"/s","typeshedThirdpartyPath":"/t",
          "bundledStubPath":"/b","defaultDepthLimit":{"maxDepth":4294967295,
          "includeAllSymbols":true,"extra":0},"includeThirdParty":false,
          "packageDepths":[{"name":"a","maxDepth":0,"includeAllSymbols":false},["a",2,true]]})",
       {{"/r"},
        "/s",
        "/t",
        "/b",
        DepthLimitConfig{4294967295u, true},
        {{"a", 0, false}, {"a", 2, true}},
        false}},
      {R"([["/r"],"/s",null,"/b",[3,false],[],false])",
       {{"/r"}, "/s", {}, "/b", DepthLimitConfig{3, false}, {}, false}},
  };
  for (const auto& c : cases) {
    auto got = decode_text(c.params);
    ASSERT_TRUE(got) << c.params << ": " << got.error();
    EXPECT_EQ(*got, c.want) << c.params;
  }
}

TEST(ScanPackagesResult, WritesMembersInNameOrderAndOmitsAbsentName) {
  ScanPackagesResult result;
  result.elapsed_ms = 12;
  result.packages_scanned = 2;
  result.files.push_back(
      {"/r/pkg/\"q\"\xEF\xBF\xBD.py", false, true, false, "pkg.m", true, false, false});
  result.files.push_back({"/r/m.pyi", true, false, true, std::nullopt, false, true, true});
  EXPECT_EQ(to_json_text(result),
            R"({"elapsedMs":12,"files":[)"
            R"({"includeAllSymbols":false,"isBundledStub":false,"isStdlib":false,"isStub":false,)"
            R"("isTypeshedStub":true,"packageName":"pkg.m","path":"/r/pkg/\"q\")"
            "\xEF\xBF\xBD"
            R"(.py","pyTypedPackage":true},)"
            R"({"includeAllSymbols":true,"isBundledStub":true,"isStdlib":true,"isStub":true,)"
            R"("isTypeshedStub":false,"path":"/r/m.pyi","pyTypedPackage":false}],)"
            R"("packagesScanned":2})");
  EXPECT_EQ(to_json_text(ScanPackagesResult{}),
            R"({"elapsedMs":0,"files":[],"packagesScanned":0})");
}

}  // namespace
}  // namespace korvane::protocol
