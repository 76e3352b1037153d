// The texts the program prints on the console before or instead of a run:
// the banner, the usage text, the options and the version. Any thread.
#pragma once

#include <ostream>
#include <string>

namespace postil {

// Three lines: program and version, the host it serves, the build.
void PrintBanner(std::ostream& out);

// The usage text for an empty command line or one with "?".
void PrintUsage(std::ostream& out);

// The options beside a configuration file name (--help).
void PrintOptions(std::ostream& out);

// "POSTIL v1.99g" and the build: system and TLS library (--version).
std::string VersionText();

}  // namespace postil
