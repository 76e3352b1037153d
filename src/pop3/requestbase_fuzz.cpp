// libFuzzer target: any REQUEST.ID opens into its whole records, and marking
// and ageing rewrite the file at its length, leaving the tail and every
// record that is no request of the marked ID and no fetch request unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_state.h"
#include "pop3/requestbase.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace postil;
  static test::HostDir dir;
  static test::FixedClock clock(test::SampleTime());
  std::string_view file(reinterpret_cast<const char*>(data), size);
  dir.Write("REQUEST.ID", file);
  RunState state(clock);
  Requestbase requests;
  requests.OpenRequestbase(state, dir.PathOf("REQUEST.ID"), 1);
  std::vector<RequestRecord> records = requests.Records();
  if (!requests.IsOpen() || records.size() != size / kRequestRecordSize) std::abort();
  std::string marked = records.empty() ? "" : records[0].message_id;
  for (const RequestRecord& r : records) {
    if (r.short_text.size() > kShortTextField || r.message_id.size() > kMessageIdField)
      std::abort();
    bool fetch = r.kind == kRequestFetchDelete || r.kind == kRequestFetch;
    bool remove = r.kind == kRequestFetchDelete || r.kind == kRequestDelete;
    if ((fetch && !requests.IsFetchRequested(r.message_id)) ||
        (remove && !requests.IsDeleteRequested(r.message_id)))
      std::abort();
  }
  requests.MarkRequestDone(state, marked);
  requests.CloseRequestbase(state);
  std::string written = dir.Read("REQUEST.ID");
  if (written.size() != size) std::abort();
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::size_t at = i * kRequestRecordSize;
    const RequestRecord& r = records[i];
    bool changes = r.kind == kRequestFetchDelete || r.kind == kRequestFetch ||
                   (r.kind == kRequestDelete && r.message_id == marked);
    if (!changes &&
        written.compare(at, kRequestRecordSize, file.substr(at, kRequestRecordSize)) != 0)
      std::abort();
  }
  if (written.substr(records.size() * kRequestRecordSize) !=
      file.substr(records.size() * kRequestRecordSize))
    std::abort();
  return 0;
}
