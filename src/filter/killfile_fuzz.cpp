// libFuzzer target: the streaming killfile reader gives the same sections
// and rules as taking the lines one by one, and every rule is parsed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/run_state.h"
#include "filter/killfile.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  static test::HostDir dir;
  static test::FixedClock clock(test::SampleTime());
  std::string_view text(reinterpret_cast<const char*>(data), size);
  dir.Write("KILL.CFG", text);
  RunState state(clock);
  RuleTable loaded;
  if (!LoadKillfile(state, dir.PathOf("KILL.CFG"), &loaded)) std::abort();
  RuleTable expected;
  for (std::string_view rest = text; !rest.empty();) {
    std::size_t lf = rest.find('\n');
    std::string_view line = rest.substr(0, lf);
    if (line.ends_with('\r')) line.remove_suffix(1);  // also before the end of the file
    AddKillfileLine(line, &expected);
    rest = lf == std::string_view::npos ? "" : rest.substr(lf + 1);
  }
  if (loaded.sections.size() != expected.sections.size()) std::abort();
  for (std::size_t i = 0; i < loaded.sections.size(); ++i) {
    const KillSection& section = loaded.sections[i];
    if (section.targets != expected.sections[i].targets) std::abort();
    if (section.rules != expected.sections[i].rules) std::abort();
    if (section.parsed.size() != section.rules.size()) std::abort();
  }
  return 0;
}
