// The killfile's rules in memory: sections in file order, each with its
// target list and its rule lines. Built once by LoadKillfile before the
// workers start, read-only afterwards.
#pragma once

#include <string>
#include <vector>

#include "filter/parsed_rule.h"

namespace postil {

struct KillSection {
  std::string targets;             // upper-cased, trimmed text after "---"
  std::vector<std::string> rules;  // trimmed rule lines, each with one blank appended
  // The conditions of `rules`, parsed once by AddKillfileLine. A section
  // built by hand may leave it empty; its rules are then parsed per call.
  std::vector<ParsedRule> parsed = {};
};

struct RuleTable {
  std::vector<KillSection> sections;
};

}  // namespace postil
