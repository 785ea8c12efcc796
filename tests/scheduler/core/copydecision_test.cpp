#include "scheduler/core/copydecision.h"

#include <gtest/gtest.h>

using core::CopyAction;
using core::CopyAnswer;
using core::CopyQuestion;
using core::FileFacts;

TEST(CopyDecision, Table) {
  const std::int64_t t1 = 1700000000, t2 = t1 + 2;  // t2 is one two-second step later
  const std::int64_t undated = 0;                    // 1970: the DOS form cannot hold it
  const FileFacts none{};
  auto file = [](std::uint64_t size, std::int64_t mtime) { return FileFacts{true, size, mtime}; };
  const auto S = CopyAction::Skip, C = CopyAction::Copy, N = CopyAction::NoSpace;

  struct Case {
    const char* what;
    FileFacts source, target;
    bool overwrite, removable;
    std::int64_t free;
    CopyAnswer answer;
  } cases[] = {
      // Empty sources: dates only, no bookkeeping, no overwrite mode.
      {"empty, no target", file(0, t1), none, false, true, 5, {C, true, 5}},
      {"empty, older target", file(0, t2), file(9, t1), false, true, 5, {C, true, 5}},
      {"empty, equal target", file(0, t1), file(9, t1), false, false, 0, {S, false, 0}},
      {"empty, newer target, overwrite", file(0, t1), file(9, t2), true, false, 0, {S, false, 0}},
      {"empty, undated source", file(0, undated), file(9, t1), false, false, 0, {S, false, 0}},
      {"empty, removable without room", file(0, t1), none, false, true, -3, {C, true, -3}},
      // Non-empty sources.
      {"no target, fixed", file(100, t1), none, false, false, 0, {C, true, 0}},
      {"no target, room", file(100, t1), none, false, true, 100, {C, true, 0}},
      {"no target, no room", file(100, t1), none, false, true, 99, {N, true, -1}},
      {"older target", file(100, t2), file(40, t1), false, true, 60, {C, true, 0}},
      {"older target, no room", file(100, t2), file(40, t1), false, true, 59, {N, true, -1}},
      {"equal target", file(100, t1), file(40, t1), false, true, 0, {S, false, 0}},
      {"one second later, same step", file(100, t1 + 1), file(40, t1), false, true, 0, {S, false, 0}},
      {"newer target", file(100, t1), file(40, t2), false, true, 0, {S, false, 0}},
      {"undated target", file(100, t2), file(40, undated), false, true, 0, {S, false, 0}},
      {"source after 2107", file(100, 4354819200), file(40, t1), false, true, 0, {S, false, 0}},
      {"undated source", file(100, undated), file(40, t1), false, true, 0, {S, false, 0}},
      // Overwrite mode books the target as absent: the whole source size must fit.
      {"overwrite, newer target", file(100, t1), file(40, t2), true, true, 150, {C, true, 50}},
      {"overwrite, equal target", file(100, t1), file(40, t1), true, false, 0, {C, true, 0}},
      {"overwrite, room only with the old target", file(100, t1), file(40, t1), true, true, 80, {N, true, -20}},
      {"overwrite, no target", file(100, t1), none, true, true, 100, {C, true, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CopyQuestion q{c.source, c.target, c.overwrite, c.removable, c.free};
    EXPECT_EQ(core::DecideCopy(q), c.answer);
  }
}
