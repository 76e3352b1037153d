// Running another program and waiting for it with a time limit; used by the
// tests, the benchmarks and the demo to start the built binaries. Any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace postil::platform {

struct ProcessResult {
  int exit_code = -1;     // -1 when it did not end normally
  bool timed_out = false;  // killed after the time limit
  std::string output;      // standard output and standard error together
  long long peak_memory_kb = -1;  // the child's largest resident set, -1 when unknown
};

struct ProcessOptions {
  std::string working_dir;                                  // empty: the current one
  std::vector<std::pair<std::string, std::string>> env;     // set (empty value: unset)
  int time_limit_ms = 60000;
};

// Runs argv[0] (a path) with the arguments, output captured.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options);

}  // namespace postil::platform
