#pragma once
// Process priority.
namespace platform {

// Lowest scheduling priority for the own process (nice 19); failures are ignored.
void SetIdlePriority();

}  // namespace platform
