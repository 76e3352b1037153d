// libFuzzer target: any POSTIL.IDX (the input, repeated to reach past the
// kept tail) loads as the tail of its data, saves and loads back the same,
// and forgetting since a mark restores the data exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/run_state.h"
#include "pop3/dupebase.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  static test::HostDir dir;
  static const bool in_dir = (std::filesystem::current_path(dir.path()), true);
  static test::FixedClock clock(test::SampleTime());
  (void)in_dir;
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string file;
  for (int copies = data[0] % 8 == 0 ? 200 : 1; copies > 0; --copies) file += input;
  dir.Write(std::string(kDupebaseFileName), file);
  RunState state(clock);
  Dupebase dupes;
  dupes.LoadDupebase(state);
  if (dupes.DupeData() != DupeDataFromFile(file)) std::abort();
  if (dupes.DupeData().size() > kDupebaseTailBytes) std::abort();
  std::string loaded = dupes.DupeData();
  std::size_t mark = dupes.Mark();
  dupes.RememberMessageId(input.substr(0, 40));
  if (!dupes.IsKnownMessageId(input.substr(0, 40))) std::abort();
  dupes.ForgetSince(mark);
  if (dupes.DupeData() != loaded) std::abort();
  dupes.SaveDupebase(state);
  Dupebase again;
  again.LoadDupebase(state);
  if (again.DupeData() != loaded) std::abort();
  return 0;
}
