// Parsing the text of the configuration file named on the command line into
// the configuration record. Pure: the run control reads the file and does
// what the settings ask for (killfile, host release, log lines).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"

namespace postil {

// Only the start of the configuration file is ever looked at.
inline constexpr std::size_t kConfigBytes = 8012;

// A name whose part after the first "." is "BFG" (any case) is a host box
// file with bare keys; any other name is the module's own "$" style.
bool IsBoxFileName(std::string_view file_name);

// Fills the settings of `config` (and HostBoxMode) from the first
// kConfigBytes of `text`, in the key style `box_mode` says. Returns one log
// text for every number that does not fit its setting, in the order found.
std::vector<std::string> ParseConfiguration(std::string_view text, bool box_mode,
                                            Config* config);

// A key the loader reads (its name, without "$" and "="), and whether only
// box files give it a meaning.
struct ConfigKey {
  std::string_view name;
  bool box_file_only;
};

// Every key the loader reads.
std::vector<ConfigKey> ConfigurationKeys();

// A per-account numeric setting and the values it can hold; a word outside
// them is logged and the setting's default used.
struct NumberSetting {
  std::string Config::*member;
  std::string_view name;
  long long min;
  long long max;
};
std::span<const NumberSetting> NumberSettings();

}  // namespace postil
