// The inbound spool files M0000.MSG .. M9999.MSG that the host imports:
// choosing the lowest free name and creating the file under the state mutex,
// so the POP3 and SMTP workers never take the same name. A file is written
// under a temporary name in the same directory and only appears under its
// M????.MSG name once it is durable, so the host never sees a partial
// message. Any thread; a SpoolFile or SpoolSession is owned by the thread
// that created it.
#pragma once

#include <bitset>
#include <optional>
#include <string>
#include <string_view>

#include "log/logger.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace postil {

struct RunState;

// Number of names a spool directory has.
inline constexpr int kSpoolNameCount = 10000;

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
  friend class SpoolSession;

  platform::DurableFile file_;
  std::string name_;
};

// The numbers taken in one spool directory, learnt from one read of it:
// every name there counts, in any letter case, and so does a name being
// written (its temporary name). Temporary files that no process writes any
// more were left by a run that died: they are removed, each logged as
// "Removing stale Spoolfile: " + its name (kProgress). Used under the state
// mutex, which every writer of this program holds while it creates its
// temporary file.
class SpoolNumbers {
 public:
  SpoolNumbers(std::string_view spool_dir, std::string_view extension, Logger log);
  // The lowest number not known to be taken, or -1 when all are.
  int LowestFree() const;
  void Take(int number) { taken_.set(static_cast<std::size_t>(number)); }

 private:
  std::bitset<kSpoolNameCount> taken_;
};

// Under the state mutex: the first of spool_dir + "M0000" + extension ..
// "M9999" + extension under which neither the file nor its temporary name
// exists, logged on `log` as "Creating Spoolfile: " + name (kTrace), and
// created; stale temporary files are removed first (see SpoolNumbers).
// `spool_dir` is empty or ends with "\". When the file cannot be created, or
// every name is taken, logs "Error Spoolfile: " + name (kFailure) and
// returns nothing. Commit() makes the file durable on its own.
std::optional<SpoolFile> CreateSpoolFile(RunState& state, std::string_view spool_dir,
                                         std::string_view extension, Logger log);

// The spool files of one POP3 session, which become importable together,
// at the session's commit: the directory is read once (at the first file),
// each complete file is held under its temporary name, and Commit() makes
// all of them durable under their names at once, before the session's
// deletions on the server take effect. Files still held when the session
// ends without its commit are removed (or, when the process died, removed
// as stale by the next writer), so the server keeps their messages and
// nothing is imported twice.
class SpoolSession {
 public:
  // `spool_dir` must exist by now when files are to be created in it.
  SpoolSession(RunState& state, std::string spool_dir, std::string extension,
               platform::DiskSync& disk, Logger log);

  // As CreateSpoolFile, with the names taken known from the first call on;
  // a name found taken since (the other worker's, another process's) is
  // noted and the next one tried.
  std::optional<SpoolFile> Create();
  // Takes a file whose bytes are all written, to be named at Commit().
  // False, logging "Error Spoolfile: " + its name (kFailure) and removing
  // it, when its bytes could not be written.
  bool Hold(SpoolFile file);
  // Files held since the last Commit() or Discard().
  std::size_t Held() const { return sync_.Held(); }
  // A file could not be created or written in this session: the spool
  // directory is full or unusable, and further messages would only fail
  // the same way.
  bool Failed() const { return failed_; }
  // Gives every held file its name, durably. On failure none keeps it and
  // "Error Spoolfile: " + the spool directory (kFailure) is logged; a file
  // whose name could not be taken away again is logged as
  // kSpoolLeftText + its name (kFailure).
  bool Commit();
  // Removes the held files unnamed.
  void Discard() { sync_.Discard(); }

 private:
  RunState& state_;
  std::string spool_dir_;
  std::string extension_;
  Logger log_;
  platform::DeferredSync sync_;
  std::optional<SpoolNumbers> numbers_;
  bool failed_ = false;
};

// Said of a spool file that a failed commit had already named and could
// not remove: the host imports it, while the server still has its message.
inline constexpr std::string_view kSpoolLeftText =
    "Spoolfile could not be removed, its message stays on the server: ";

// The name a spool file has while it is being written: never matched by the
// host's M????.MSG pattern.
std::string SpoolTempName(std::string_view final_name);

}  // namespace postil
