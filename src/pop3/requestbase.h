// The Requestbase REQUEST.ID: messages the host's user asked to fetch and/or
// delete on the server, by Message-ID, in fixed 267-byte records. Opened by
// main, served by the POP3 worker alone, aged and closed by main.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace postil {

struct RunState;

struct RequestRecord {
  std::uint8_t kind = 0;
  std::uint8_t age = 0;
  std::string short_text;  // at most 8 bytes, carried through unchanged
  std::string message_id;  // at most 255 bytes
};

enum RequestKind : std::uint8_t {
  kRequestEmpty = 0,
  kRequestServed = 1,
  kRequestFetchDelete = 100,
  kRequestFetch = 101,
  kRequestDelete = 102,
};

inline constexpr std::size_t kRequestRecordSize = 267;
inline constexpr std::size_t kShortTextField = 8;
inline constexpr std::size_t kMessageIdField = 255;
// A host writes a few requests at a time; a longer file is taken as damaged.
inline constexpr std::size_t kMaxRequestRecords = 100000;
inline constexpr std::string_view kRequestbaseFileName = "REQUEST.ID";

// A record's fields; a length byte larger than its field counts as the
// field's width.
RequestRecord ParseRequestRecord(std::string_view bytes);
// The 267 bytes of a record: lengths at most the field widths, texts cut to
// them and padded with blanks.
std::string FormatRequestRecord(const RequestRecord& record);

class Requestbase {
 public:
  // Does nothing with `host_release` 0 or less (the host cannot make
  // requests). Otherwise reads the file (a missing one has no records);
  // when it cannot be read logs "Error Opening Requestbase" (main, kFailure)
  // and serves no requests.
  void OpenRequestbase(RunState& state, std::string_view file_name, int host_release);
  bool IsOpen() const { return open_; }

  // Whether a fetch (kinds 100, 101) or delete (100, 102) request named
  // exactly this Message-ID when the Requestbase was opened.
  bool IsFetchRequested(std::string_view message_id) const;
  bool IsDeleteRequested(std::string_view message_id) const;

  // Marks the records of this Message-ID served (fetch requests become
  // kind 1 with age 255, delete requests kind 0) and writes the file.
  // False when the Requestbase is not open.
  bool MarkRequestDone(RunState& state, std::string_view message_id);
  // The same for several Message-IDs, with the file written once.
  bool MarkRequestsDone(RunState& state, const std::vector<std::string>& message_ids);

  // Ages the unserved fetch requests (dropping those at age 254 or more),
  // writes the file and closes the Requestbase.
  void CloseRequestbase(RunState& state);

  // The records as they stand (for the tests).
  std::vector<RequestRecord> Records() const;

 private:
  bool Write(RunState& state);
  // Marks the records of one Message-ID in memory; true when any changed.
  bool MarkRecords(std::string_view message_id);

  bool open_ = false;
  std::string file_name_;
  std::vector<std::string> records_;  // raw bytes, so untouched records stay as they were
  std::string tail_;                  // a partial record at the end, kept as it is
  std::vector<std::string> fetch_requests_;
  std::vector<std::string> delete_requests_;
};

}  // namespace postil
