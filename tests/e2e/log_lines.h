// Finding a worker's log lines by their content, so that a check of some
// lines does not hang on the lines around them. Plain functions, no state.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace postil::test {

inline bool Contains(const std::vector<std::string>& lines, std::string_view line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The lines from the first one equal to `first` on, `count` of them (fewer
// at the end, none when `first` is missing).
inline std::vector<std::string> LogFrom(const std::vector<std::string>& log, std::string_view first,
                                        std::size_t count) {
  auto at = std::find(log.begin(), log.end(), first);
  return {at, at + std::min<std::ptrdiff_t>(count, log.end() - at)};
}

// Whether every line of `expected` stands in `log`, in this order; other
// lines may come before, between and after them.
inline testing::AssertionResult LoggedInOrder(const std::vector<std::string>& log,
                                              const std::vector<std::string>& expected) {
  auto at = log.begin();
  for (const std::string& line : expected) {
    at = std::find(at, log.end(), line);
    if (at == log.end()) {
      testing::AssertionResult failure = testing::AssertionFailure();
      failure << "not logged (in this order): \"" << line << "\"\nthe log:";
      for (const std::string& logged : log) failure << "\n" << logged;
      return failure;
    }
    ++at;
  }
  return testing::AssertionSuccess();
}

}  // namespace postil::test
