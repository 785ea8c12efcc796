#include "scheduler/core/workingset.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <vector>

namespace {

long ResidentPages() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident;
}

}  // namespace

TEST(WorkingSet, MatchesOnlyTheRunningProgramName) {
  EXPECT_TRUE(core::IsOwnExecutable("scheduler_core_tests"));
  EXPECT_FALSE(core::IsOwnExecutable("Scheduler_core_tests"));
  EXPECT_FALSE(core::IsOwnExecutable("Quillomet"));
  EXPECT_FALSE(core::IsOwnExecutable(""));
  core::ReleaseProcessMemory("Quillomet");  // another name: nothing happens, nothing fails
}

TEST(WorkingSet, ReturnsFreedHeapPages) {
  // Many small blocks freed while the last one pins the top of the heap: free() alone keeps
  // those pages resident.
  std::vector<std::unique_ptr<char[]>> blocks;
  blocks.reserve(100000);
  for (int i = 0; i < 100000; ++i) {
    blocks.emplace_back(new char[512]);
    for (int j = 0; j < 512; j += 64) blocks.back()[j] = static_cast<char>(j);
  }
  std::unique_ptr<char[]> pin = std::move(blocks.back());
  blocks.pop_back();
  for (auto& b : blocks) b.reset();
  const long before = ResidentPages();
  core::ReleaseProcessMemory("scheduler_core_tests");
  const long after = ResidentPages();
  const long freedMiB = (before - after) * sysconf(_SC_PAGESIZE) / (1024 * 1024);
  EXPECT_GE(freedMiB, 20) << "before " << before << " pages, after " << after;
}
