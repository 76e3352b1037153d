// The Dupebase: the Message-IDs of messages already seen on a server where
// mail is kept, so they are not delivered again. Kept in POSTIL.IDX between
// runs; loaded and saved by main, used by the POP3 worker alone in between.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

namespace postil {

struct RunState;

class Dupebase {
 public:
  // Reads POSTIL.IDX under the state mutex; a missing or unreadable file
  // gives an empty Dupebase.
  void LoadDupebase(RunState& state);
  // Replaces POSTIL.IDX (under the spelling the file has, in any letter
  // case) with the header and the last bytes of the data, written under a
  // temporary name and renamed, so a crash never leaves a half-written file.
  // Errors end it silently.
  void SaveDupebase(RunState& state);

  // A plain substring search, case-sensitive: an ID inside a longer stored
  // one counts as known. An ID stored as it is, the usual case when a
  // kept mailbox is polled again, is found without the search.
  bool IsKnownMessageId(std::string_view message_id) const;
  void RememberMessageId(std::string_view message_id);

  // Where the data ends now; ForgetSince takes out everything remembered
  // after that point (the IDs of a message whose fetch failed).
  std::size_t Mark() const { return data_.size(); }
  void ForgetSince(std::size_t mark);

  const std::string& DupeData() const { return data_; }

 private:
  // Adds the lines of data_ from `from` on to entries_.
  void AddEntries(std::size_t from);

  std::string data_;  // Message-IDs, each followed by CR LF, oldest first
  // Every line of data_: each is a part of data_, so finding an ID here
  // answers the substring search at once.
  std::unordered_set<std::string> entries_;
};

// The file's header line, exactly 48 characters, followed by CR LF.
inline constexpr std::string_view kDupebaseHeader =
    "# QUIL/POSTIL Dupebase, do not edit or delete! #";
inline constexpr std::size_t kDupebaseHeaderBytes = 50;
// The file keeps at most this many bytes of Message-IDs; older ones fall out.
inline constexpr std::size_t kDupebaseTailBytes = 64000;
inline constexpr std::string_view kDupebaseFileName = "POSTIL.IDX";

// The DupeData held in a file's bytes: everything after the first 50 bytes,
// of which only the last kDupebaseTailBytes count (a longer file is damaged;
// saving keeps no more either).
std::string DupeDataFromFile(std::string_view file_bytes);
// The bytes of the file for `dupe_data`.
std::string DupebaseFileBytes(std::string_view dupe_data);

}  // namespace postil
