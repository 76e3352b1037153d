// What a configuration file holds that the loader passes over in silence:
// keys it does not know (naming the key a near miss probably meant), keys of
// the other key style, keys it reads from box files only, keys given twice
// or lying beyond the part that is read, numbers read from a longer text,
// time-outs that are no number or read as 0, empty server words, and a file
// that names no server at all. Pure, any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"

namespace postil {

struct ConfigReview {
  // One "Configuration: ..." text for each thing that makes a run do other
  // than the file seems to say: the key lines in the order of the file, then
  // the values, then the file as a whole.
  std::vector<std::string> problems;
  // Keys of a box file that are not POSTIL's (the host keeps its own keys in
  // the same file), as written.
  std::vector<std::string> other_keys;
};

// Reviews `text`, the whole file or more of it than the loader reads, as
// read in the style `box_mode` says; `config` is what the loader made of it.
ConfigReview ReviewConfiguration(std::string_view text, bool box_mode, const Config& config);

// The key the loader reads that `name` (without "$" and "=") is closest to,
// when it lies within two typing slips (a letter left out, added, changed
// or two swapped), regardless of case; empty when none is that close.
std::string_view NearestKey(std::string_view name);

// The accounts a run would serve: a server list that is set and not
// "disabled", minus the accounts with an empty server word or unusable TLS
// settings.
int ServedPop3Accounts(const Config& config);
int ServedSmtpServers(const Config& config);

}  // namespace postil
