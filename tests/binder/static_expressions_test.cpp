#include "binder/static_expressions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

namespace korvane::binder::static_expressions {
namespace {

using testing::condition_of;
using testing::Snippet;

constexpr PythonVersion k310{3, 10};

struct EvalCase {
  const char* condition;
  std::optional<PythonVersion> version;
  std::optional<std::string_view> sys_alias;
  StaticBool want;
};

void PrintTo(const EvalCase& c, std::ostream* os) { *os << c.condition; }

class EvaluateTest : public ::testing::TestWithParam<EvalCase> {};

TEST_P(EvaluateTest, Decides) {
  const EvalCase& c = GetParam();
  Snippet snippet(std::string("if ") + c.condition + ":\n    pass\n");
  const python::Expr* test = condition_of(snippet);
  ASSERT_NE(test, nullptr) << "did not parse";
  EXPECT_EQ(evaluate_static_bool_expression(*test, c.version, c.sys_alias), c.want);
}

constexpr auto T = StaticBool::True;
constexpr auto F = StaticBool::False;
constexpr auto U = StaticBool::Unknown;

// The readings a stub author relies on for 3.10.
INSTANTIATE_TEST_SUITE_P(
    Readings310, EvaluateTest,
    ::testing::Values(EvalCase{"sys.version_info >= (3, 8)", k310, {}, T},
                      EvalCase{"sys.version_info < (3,)", k310, {}, F},
                      EvalCase{"sys.version_info >= (3, 10, 2)", k310, {}, T},
                      EvalCase{"(3, 11) <= sys.version_info", k310, {}, F},
                      EvalCase{"sys.version_info[:2] == (3, 10)", k310, {}, T},
                      EvalCase{"sys.version_info[0] == 3", k310, {}, T},
                      EvalCase{"sys.version_info[1] >= 8", k310, {}, T},
                      EvalCase{"sys.version_info[0] >= (3, 8)", k310, {}, U},
                      EvalCase{"sys.version_info in (3, 10)", k310, {}, F},
                      EvalCase{"(3, 10) in sys.version_info", k310, {}, U},
                      EvalCase{"sys.version_info >= (3, 256)", k310, {}, U},
                      EvalCase{"not TYPE_CHECKING and sys.version_info >= (3, 8)", k310, {}, T},
                      EvalCase{"TYPE_CHECKING or x", k310, {}, U},
                      EvalCase{"x and sys.version_info < (3, 8)", k310, {}, F}));

// Forms that must stay undecided or be decided without a version.
INSTANTIATE_TEST_SUITE_P(
    Forms, EvaluateTest,
    ::testing::Values(
        // Without a version only the version-free forms are decided.
        EvalCase{"sys.version_info >= (3, 8)", std::nullopt, {}, U},
        EvalCase{"TYPE_CHECKING", std::nullopt, {}, F},
        EvalCase{"typing.TYPE_CHECKING", std::nullopt, {}, F},
        EvalCase{"not typing.TYPE_CHECKING", std::nullopt, {}, T},
        EvalCase{"True and not False", std::nullopt, {}, T},
        EvalCase{"False or TYPE_CHECKING", std::nullopt, {}, F},
        // An alias of typing or another module's flag is not recognised.
        EvalCase{"t.TYPE_CHECKING", k310, {}, U}, EvalCase{"typing.TYPE_CHECKING.x", k310, {}, U},
        EvalCase{"type_checking", k310, {}, U},
        // Numbers, None and calls are never decided.
        EvalCase{"0", k310, {}, U}, EvalCase{"1", k310, {}, U}, EvalCase{"None", k310, {}, U},
        EvalCase{"f()", k310, {}, U}, EvalCase{"-TYPE_CHECKING", k310, {}, U},
        EvalCase{"not x", k310, {}, U}, EvalCase{"x and False", k310, {}, F},
        EvalCase{"x or True", k310, {}, T}, EvalCase{"x or False", k310, {}, U},
        EvalCase{"True and x", k310, {}, U},
        // Chained comparisons are not decided.
        EvalCase{"(3, 8) <= sys.version_info < (3, 12)", k310, {}, U},
        // The alias is accepted beside `sys`, and only when recorded.
        EvalCase{"X.version_info >= (3, 9)", k310, "X", T},
        EvalCase{"sys.version_info >= (3, 11)", k310, "X", F},
        EvalCase{"X.version_info >= (3, 9)", k310, {}, U},
        EvalCase{"os.version_info >= (3, 9)", k310, {}, U},
        EvalCase{"sys.version >= (3, 9)", k310, {}, U},
        // Subscripts: the step is ignored, a lower bound or negative index refuses.
        EvalCase{"sys.version_info[:2:1] >= (3, 8)", k310, {}, T},
        EvalCase{"sys.version_info[0:2] >= (3, 8)", k310, {}, U},
        EvalCase{"sys.version_info[:3] >= (3, 8)", k310, {}, U},
        EvalCase{"sys.version_info[-1] >= 8", k310, {}, U},
        EvalCase{"sys.version_info[2] >= 0", k310, {}, U},
        // Tuples: empty, negative, float, list and oversize refuse.
        EvalCase{"sys.version_info > ()", k310, {}, U},
        EvalCase{"sys.version_info > (-3,)", k310, {}, U},
        EvalCase{"sys.version_info > -3", k310, {}, U},
        EvalCase{"sys.version_info > 3.0", k310, {}, U},
        EvalCase{"sys.version_info > [3, 8]", k310, {}, U},
        EvalCase{"sys.version_info > (3, x)", k310, {}, U},
        EvalCase{"sys.version_info < 256", k310, {}, U},
        EvalCase{"sys.version_info < 99999999999999999999999", k310, {}, U},
        EvalCase{"sys.version_info < 255", k310, {}, T},
        // A missing minor counts as 0.
        EvalCase{"sys.version_info == (3,)", k310, {}, F},
        EvalCase{"sys.version_info == (3,)", PythonVersion{3, 0}, {}, T},
        EvalCase{"sys.version_info == 3", PythonVersion{3, 0}, {}, T},
        EvalCase{"sys.version_info[0] == (3,)", k310, {}, T},
        EvalCase{"sys.version_info[1] == (10, 0)", k310, {}, U},
        // Literals in other bases count by value.
        EvalCase{"sys.version_info >= (0x3, 0o12)", k310, {}, T},
        EvalCase{"sys.version_info >= (3, 1_0)", k310, {}, T},
        // Identity and membership: False forward, undecided mirrored.
        EvalCase{"sys.version_info is (3, 10)", k310, {}, F},
        EvalCase{"sys.version_info is not (3, 10)", k310, {}, F},
        EvalCase{"sys.version_info not in (3, 10)", k310, {}, F},
        EvalCase{"(3, 10) is sys.version_info", k310, {}, U},
        EvalCase{"(3, 10) not in sys.version_info", k310, {}, U},
        // Every ordering operator, both ways round.
        EvalCase{"sys.version_info != (3, 10)", k310, {}, F},
        EvalCase{"sys.version_info > (3, 9)", k310, {}, T},
        EvalCase{"sys.version_info <= (3, 9)", k310, {}, F},
        EvalCase{"(3, 9) < sys.version_info", k310, {}, T},
        EvalCase{"(3, 10) >= sys.version_info", k310, {}, T},
        EvalCase{"(3, 11) > sys.version_info", k310, {}, T},
        EvalCase{"(4,) == sys.version_info", k310, {}, F},
        EvalCase{"8 <= sys.version_info[1]", k310, {}, T},
        // Major decides before minor.
        EvalCase{"sys.version_info < (4, 0)", k310, {}, T},
        EvalCase{"sys.version_info > (2, 99)", k310, {}, T}));

TEST(VersionTupleTest, RefusesWhatIsNoVersion) {
  struct Row {
    const char* expr;
    std::vector<int> want;  // empty: no version tuple (a real one is never empty)
  };
  const Row rows[] = {
      {"(3, 8, 1)", {3, 8, 1}}, {"255", {255}}, {"(0,)", {0}}, {"256", {}}, {"()", {}},
      {"(3, True)", {}},        {"True", {}},   {"[3]", {}},   {"-1", {}},  {"'3'", {}},
  };
  for (const Row& row : rows) {
    Snippet snippet(std::string("if ") + row.expr + ":\n    pass\n");
    const python::Expr* expr = condition_of(snippet);
    ASSERT_NE(expr, nullptr) << row.expr;
    std::vector<int> got;
    if (auto tuple = extract_version_tuple(*expr)) got.assign(tuple->begin(), tuple->end());
    EXPECT_EQ(got, row.want) << row.expr;
  }
}

TEST(VersionBinaryOperationTest, LengthCheckComesBeforeOperator) {
  // A wrong-length tuple is undecided even for operators that are otherwise always False.
  EXPECT_EQ(evaluate_version_binary_operation(3, 10, VersionInfoAccess::Major,
                                              python::CmpOperator::In, VersionTuple{3, 10}),
            StaticBool::Unknown);
  EXPECT_EQ(evaluate_version_binary_operation(3, 10, VersionInfoAccess::Minor,
                                              python::CmpOperator::Is, VersionTuple{10}),
            StaticBool::False);
  EXPECT_EQ(evaluate_version_binary_operation(3, 10, VersionInfoAccess::Whole,
                                              python::CmpOperator::Eq, VersionTuple{}),
            StaticBool::Unknown);
}

}  // namespace
}  // namespace korvane::binder::static_expressions
