// libFuzzer target: wherever the blocks end, the splitter's lines rejoined
// with LF are the input without its CRs, and the file reader gives the same
// lines with the end flag on the last. Input: a block size byte, the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_state.h"
#include "smtp/spool_line_reader.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  static test::HostDir dir;
  static test::FixedClock clock(test::SampleTime());
  if (size == 0) return 0;
  std::size_t block = data[0] % 16 + 1;
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  SpoolLineSplitter splitter;
  std::vector<std::string> lines;
  std::string line, joined;
  for (std::size_t at = 0; at < bytes.size(); at += block) {
    splitter.Feed(bytes.substr(at, block));
    while (splitter.NextLine(&line)) lines.push_back(line), joined += line + "\n";
  }
  if (splitter.TakeRest(&line)) lines.push_back(line), joined += line;
  std::string expected;
  for (char c : bytes)
    if (c != '\r') expected += c;
  if (joined != expected) std::abort();

  dir.Write("SPOOL.OUT", bytes);
  RunState state(clock);
  platform::InputFile file;
  if (!file.Open(dir.PathOf("SPOOL.OUT"), nullptr)) std::abort();
  SpoolLineReader reader(state.log.For(LogThread::kSmtp), file, bytes.size());
  if (lines.empty()) lines.emplace_back();  // an empty file reads as one empty line
  for (const std::string& want : lines) {
    if (reader.AtEnd() || reader.ReadSpoolLine() != want) std::abort();
  }
  if (!reader.AtEnd() || reader.Failed()) std::abort();
  return 0;
}
