#include "util/memory_release.h"

#include <cstddef>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace korvane {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// What the policy hears: a finished message, or memory freed within a request.
enum class Call { kPing, kNote, kRequest, kFreed };

// One call: its size (a message with its reply, or the bytes freed), and the allocator's free
// memory by then.
struct Step {
  Call call;
  std::size_t bytes;
  std::optional<std::size_t> free_after;  // none: the C library cannot say
  bool trims;
};

struct Case {
  const char* name;
  std::vector<Step> steps;
};

constexpr auto kPing = Call::kPing;
constexpr auto kNote = Call::kNote;
constexpr auto kRequest = Call::kRequest;
constexpr auto kFreed = Call::kFreed;

// 8 MiB of growth or traffic, a look every 1 MiB freed within a request; 2 MiB of growth once a
// request is done.
const Case kCases[] = {
    // Trimming after every message made a long session's pings several times dearer.
    {"pings_and_notifications_never_trim",
     {{kRequest, 100, 1 * kMiB, false},
      {kPing, 100, 90 * kMiB, false},
      {kNote, 20 * kMiB, 90 * kMiB, false},
      {kPing, 100, 90 * kMiB, false}}},
    {"a_request_that_freed_much_trims",
     {{kRequest, 100, 1 * kMiB, false}, {kRequest, 1000, 10 * kMiB, true}}},
    // After a big request the free total stays high, trimmed or not: a fixed threshold on it
    // would trim after every later request again.
    {"free_memory_that_stays_high_trims_once",
     {{kRequest, 100, 1 * kMiB, false},
      {kRequest, 100, 50 * kMiB, true},
      {kRequest, 100, 50 * kMiB, false},
      {kRequest, 100, 51 * kMiB, false}}},
    {"growth_adds_up_from_the_lowest_reading",
     {{kRequest, 100, 20 * kMiB, false},
      {kRequest, 100, 5 * kMiB, false},
      {kRequest, 100, 6 * kMiB, false},
      {kRequest, 100, 8 * kMiB, true}}},
    // Requests that reuse what they free never raise the total; their traffic still adds up.
    {"traffic_adds_up",
     {{kRequest, 3 * kMiB, 4 * kMiB, false},
      {kRequest, 3 * kMiB, 4 * kMiB, false},
      {kRequest, 2 * kMiB, 4 * kMiB, true},
      {kRequest, 3 * kMiB, 4 * kMiB, false}}},
    {"one_large_batch_trims", {{kRequest, 9 * kMiB, 0, true}}},
    {"without_a_reading_traffic_decides",
     {{kRequest, 7 * kMiB, std::nullopt, false}, {kRequest, 1 * kMiB, std::nullopt, true}}},
    // A cross-file batch frees its pool threads' parses while it goes on allocating elsewhere.
    {"freeing_within_a_request_looks_every_step",
     {{kRequest, 100, 1 * kMiB, false},
      {kFreed, kMiB / 2, 20 * kMiB, false},  // not looked at yet
      {kFreed, kMiB / 2, 20 * kMiB, true},
      {kFreed, 2 * kMiB, 22 * kMiB, false},
      {kFreed, 0, 29 * kMiB, true},  // an unknown amount: looks at once
      {kRequest, 100, 29 * kMiB, false}}},
    // What a batch frees after its last trim within it, its tables and last parses, is less than
    // a trim within a request waits for, yet the server would idle holding it.
    {"a_request_trims_what_it_freed_after_trimming_within",
     {{kRequest, 100, 1 * kMiB, false},
      {kFreed, 0, 20 * kMiB, true},
      {kRequest, 100, 25 * kMiB, true}}},
};

bool call(TrimPolicy& policy, const Step& step) {
  switch (step.call) {
    case Call::kPing:
      return policy.after_message(MessageKind::kPing, step.bytes);
    case Call::kNote:
      return policy.after_message(MessageKind::kNotification, step.bytes);
    case Call::kRequest:
      return policy.after_message(MessageKind::kRequest, step.bytes);
    case Call::kFreed:
      return policy.after_freeing(step.bytes);
  }
  return false;
}

class TrimPolicyTest : public ::testing::TestWithParam<Case> {};

TEST_P(TrimPolicyTest, TrimsOnlyWhenWorthIt) {
  std::optional<std::size_t> free_now;
  std::size_t readings = 0;
  std::size_t trims = 0;
  TrimPolicy policy(
      TrimPolicy::Limits{8 * kMiB, 8 * kMiB, 1 * kMiB, 2 * kMiB},
      [&] {
        ++readings;
        return free_now;
      },
      [&] { ++trims; });
  std::size_t want_trims = 0;
  for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
    const Step& step = GetParam().steps[i];
    free_now = step.free_after;
    const std::size_t readings_before = readings;
    EXPECT_EQ(call(policy, step), step.trims) << "step " << i;
    want_trims += step.trims ? 1 : 0;
    // Not even a reading after a ping or a notification: it walks the free chunks too.
    if (step.call == kPing || step.call == kNote) {
      EXPECT_EQ(readings, readings_before) << "step " << i;
    }
  }
  EXPECT_EQ(trims, want_trims);
  EXPECT_EQ(policy.trims(), want_trims);
}

INSTANTIATE_TEST_SUITE_P(Memory, TrimPolicyTest, ::testing::ValuesIn(kCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace korvane
