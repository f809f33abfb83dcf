#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "binder/binder.h"
#include "test_support.h"

namespace korvane::binder {
namespace {

using testing::Snippet;
using testing::sorted;

using Names = std::vector<std::string>;

struct AllCase {
  const char* name;
  const char* source;
  Names names;   // what is collected, after removals
  bool dynamic;  // whether some operation could not be read
  bool present;  // whether the bound module reports an `__all__`
  std::optional<PythonVersion> version = PythonVersion{3, 10};
};

void PrintTo(const AllCase& c, std::ostream* os) { *os << c.name; }

std::string case_name(const ::testing::TestParamInfo<AllCase>& param_info) {
  return param_info.param.name;
}

class DunderAllTest : public ::testing::TestWithParam<AllCase> {};

TEST_P(DunderAllTest, Collects) {
  const AllCase& c = GetParam();
  Snippet snippet(c.source);
  ASSERT_TRUE(snippet.module) << "did not parse";

  Binder binder(FileInfo{"m", false, false, c.version});
  NameSet names;
  std::vector<std::string_view> removals;
  for (const python::Stmt* stmt : snippet.body()) {
    binder.extract_dunder_all_from_stmt(*stmt, names, removals);
  }
  for (std::string_view removed : removals) names.erase(std::string(removed));
  EXPECT_EQ(sorted(names), c.names);
  EXPECT_EQ(binder.dunder_all_dynamic(), c.dynamic);

  BinderResult result = Binder(FileInfo{"m", false, false, c.version}).bind_module(snippet.body());
  ASSERT_EQ(result.dunder_all.has_value(), c.present);
  if (result.dunder_all) {
    EXPECT_EQ(sorted(*result.dunder_all), c.names);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DunderAllTest,
    ::testing::Values(
        // Later assignments add to earlier ones instead of replacing them.
        AllCase{"AssignmentsAddUp", "__all__ = ['a']\n__all__ = ['b']\n", {"a", "b"}, false, true},
        AllCase{"ChainedTarget", "x = __all__ = ['a']\n", {"a"}, false, true},
        AllCase{"Tuple", "__all__ = ('a', 'b')\n", {"a", "b"}, false, true},
        // Removal is applied after every addition, whatever the order in the source.
        AllCase{"RemoveBeforeAppend",
                "__all__ = ['a', 'b']\n__all__.remove('a')\n__all__.append('a')\n",
                {"b"},
                false,
                true},
        AllCase{"RemoveMissing", "__all__ = ['a']\n__all__.remove('zz')\n", {"a"}, false, true},
        AllCase{"RemoveEverything", "__all__ = ['a']\n__all__.remove('a')\n", {}, false, false},
        AllCase{"RemoveName", "__all__ = ['a']\n__all__.remove(x)\n", {"a"}, true, true},
        // Binary operations of any operator read both sides.
        AllCase{"Concatenation", "__all__ = ('a',) + ['b']\n", {"a", "b"}, false, true},
        AllCase{"ChainedConcatenation",
                "__all__ = ['a'] + ['b'] + ('c',)\n",
                {"a", "b", "c"},
                false,
                true},
        AllCase{"RepeatByNumber", "__all__ = ['a'] * 2\n", {}, true, true},
        AllCase{"OtherModuleList", "__all__ = base.__all__ + ['x']\n", {}, true, true},
        AllCase{"AugmentedAnyOperator", "__all__ -= ['a']\n", {"a"}, false, true},
        // extend: another module's list is left to that module; other names are unknowable.
        AllCase{"ExtendAttribute", "__all__.extend(mod.__all__)\n", {}, false, false},
        AllCase{"ExtendName", "__all__.extend(names)\n", {}, true, true},
        AllCase{"ExtendList", "__all__.extend(['a', 'b'])\n", {"a", "b"}, false, true},
        AllCase{"ExtendTwoArguments", "__all__.extend(['a'], ['b'])\n", {}, false, false},
        AllCase{"AppendName", "__all__.append(name)\n", {}, true, true},
        AllCase{"AppendTwoArguments", "__all__.append('a', 'b')\n", {}, false, false},
        AllCase{"AppendIgnoresKeywords", "__all__.append('a', key=1)\n", {"a"}, false, true},
        AllCase{"Clear", "__all__ = ['a']\n__all__.clear()\n", {"a"}, true, true},
        AllCase{"Insert", "__all__.insert(0, 'a')\n", {}, true, true},
        AllCase{"NestedAttributeIsNotOurs", "obj.__all__.append('a')\n", {}, false, false},
        AllCase{"AnnotatedIsNotRead", "__all__: list[str] = ['a']\n", {}, false, false},
        AllCase{"ImplicitConcatenation", "__all__ = ['a' 'b']\n", {"ab"}, false, true},
        AllCase{"Duplicates", "__all__ = ['a', 'a']\n", {"a"}, false, true},
        AllCase{"EmptyList", "__all__ = []\n", {}, false, false},
        AllCase{"EmptyTuple", "__all__ = ()\n", {}, false, false},
        // Anything that is not a plain string element makes the whole form unreadable.
        AllCase{"FormattedString", "__all__ = ['a', f'b']\n", {}, true, true},
        AllCase{"BytesElement", "__all__ = [b'a']\n", {}, true, true},
        AllCase{"StarredElement", "__all__ = ['a', *rest]\n", {}, true, true},
        AllCase{"SingleString", "__all__ = 'a'\n", {}, true, true},
        AllCase{"Comprehension", "__all__ = [x for x in y]\n", {}, true, true},
        AllCase{"Call", "__all__ = names()\n", {}, true, true},
        // Every branch of if and every part of try is read, whatever the tests.
        AllCase{"IfBranchLeftOutOfBinding",
                "import sys\nif sys.version_info >= (3, 8):\n    __all__ += ['x']\n",
                {"x"},
                false,
                true,
                PythonVersion{3, 7}},
        AllCase{"AllIfBranches",
                "if x:\n    __all__ = ['a']\nelif y:\n    __all__ = ['b']\nelse:\n"
                "    __all__ = ['c']\n",
                {"a", "b", "c"},
                false,
                true},
        AllCase{"AllTryParts",
                "try:\n    __all__ = ['a']\nexcept E:\n    __all__ = ['b']\nelse:\n"
                "    __all__ += ['c']\nfinally:\n    __all__.append('d')\n",
                {"a", "b", "c", "d"},
                false,
                true},
        // Loops, with, match, def and class bodies and subscripts are not read.
        AllCase{"UnreadStatements",
                "for x in y:\n    __all__ = ['a']\nwhile x:\n    __all__ += ['b']\n"
                "with x:\n    __all__.append('c')\ndef f():\n    __all__ = ['d']\n"
                "class K:\n    __all__ = ['e']\nmatch x:\n    case _:\n        __all__ = ['f']\n"
                "del __all__[0]\n__all__[0] = 'x'\n",
                {},
                false,
                false}),
    case_name);

TEST(ExtractAllNamesTest, KeepsSourceOrderAndDuplicates) {
  Snippet snippet("x = ['b', 'a'] + ['b']\ny = ['a', z]\n");
  ASSERT_TRUE(snippet.module);
  const auto* first = snippet.body()[0]->as<python::Assign>();
  const auto* second = snippet.body()[1]->as<python::Assign>();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  auto names = Binder::extract_all_names(*first->value);
  ASSERT_TRUE(names.has_value());
  EXPECT_EQ(*names, (std::vector<std::string_view>{"b", "a", "b"}));
  EXPECT_FALSE(Binder::extract_all_names(*second->value).has_value());
}

}  // namespace
}  // namespace korvane::binder

namespace korvane::binder {
namespace {

// The parser builds `+` chains iteratively; reading them must not recurse once per operand.
TEST(ExtractAllNamesTest, LongConcatenationChain) {
  constexpr int kTerms = 300000;
  std::string source = "__all__ = ['a0']";
  for (int i = 1; i < kTerms; ++i) source += " + ['a" + std::to_string(i % 7) + "']";
  source += "\n";
  Snippet snippet(source);
  ASSERT_TRUE(snippet.module);
  BinderResult result = Binder(FileInfo{}).bind_module(snippet.body());
  ASSERT_TRUE(result.dunder_all.has_value());
  EXPECT_EQ(result.dunder_all->size(), 7u);
}

}  // namespace
}  // namespace korvane::binder
