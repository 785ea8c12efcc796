#include "platform/priority.h"

#include <sys/resource.h>

namespace platform {

void SetIdlePriority() { setpriority(PRIO_PROCESS, 0, 19); }

}  // namespace platform
