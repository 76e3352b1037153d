// The inbound spool files M0000.MSG .. M9999.MSG that the host imports:
// choosing the lowest free name and creating the file under the state mutex,
// so the POP3 and SMTP workers never take the same name. A file is written
// under a temporary name in the same directory and only appears under its
// M????.MSG name when Commit() succeeds, so the host never sees a partial
// message. Any thread; a SpoolFile is owned by the thread that created it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "log/logger.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace postil {

struct RunState;

class SpoolFile {
 public:
  SpoolFile(platform::DurableFile file, std::string name)
      : file_(std::move(file)), name_(std::move(name)) {}

  // The final name, spool directory included, as logged.
  const std::string& Name() const { return name_; }
  // Buffered; false once any write failed.
  bool Write(std::string_view bytes) { return file_.Write(bytes); }
  // Syncs the file, renames it to Name() and syncs the directory. On failure
  // the temporary file is removed and `err` says why.
  bool Commit(std::string* err) { return file_.Commit(err); }
  // Destroyed without a successful Commit(), nothing appears under Name().

 private:
  platform::DurableFile file_;
  std::string name_;
};

// Under the state mutex: the first of spool_dir + "M0000" + extension ..
// "M9999" + extension under which neither the file nor its temporary name
// exists, logged on `log` as "Creating Spoolfile: " + name (kTrace), and
// created. Temporary files that no process is writing are removed first,
// each logged as "Removing stale Spoolfile: " + its name (kProgress).
// `spool_dir` is empty or ends with "\". When the file cannot be created, or
// every name is taken, logs "Error Spoolfile: " + name (kFailure) and
// returns nothing.
std::optional<SpoolFile> CreateSpoolFile(RunState& state, std::string_view spool_dir,
                                         std::string_view extension, Logger log);

// The name a spool file has while it is being written: never matched by the
// host's M????.MSG pattern.
std::string SpoolTempName(std::string_view final_name);

// Number of names CreateSpoolFile tries.
inline constexpr int kSpoolNameCount = 10000;

}  // namespace postil
