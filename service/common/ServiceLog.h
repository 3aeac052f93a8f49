// ServiceLog: the service's lines on the process-wide log writer.
#pragma once

#include <string>

namespace zoscsi {

// Level -1 failures, 0 details (refusals), 1 notices (mutations, start, stop).
// Written only when the writer's level is at least `level`.
void ServiceLog(int level, const char* where, const std::string& text);

}  // namespace zoscsi
