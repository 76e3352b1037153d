// The decision and the action for one message waiting on the POP3 server:
// TOP, header capture, Dupebase, requests, size limit and filter, then
// fetch, stub, skip or delete. POP3 worker only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pop3/header_capture.h"
#include "pop3/pop3_context.h"

namespace postil {

enum class ScanResult {
  kGoOn,            // next message
  kStopMailbox,     // TOP refused, or no spool file could be made: the rest is left for now
  kChannelFailure,  // the connection failed or a message was cut off: its state is unknown
};

enum class MessageAction { kFetch = 0, kSkip = 1, kTooLong = 2, kDelete = 10 };

// The values of the message being scanned, reset for every message.
struct ScannedMessage {
  int number = 0;
  std::string header_text;  // kept header lines, each with LF
  bool header_cut = false;  // the header was longer than what is kept of it
  CapturedHeader header;
  std::string recipient;
  bool keep = false;
  MessageAction action = MessageAction::kFetch;
  bool dupe = false;
  bool requested = false;
  std::int64_t size = 0;  // from the TOP reply, 0 when not stated
  // The filter's HeaderLineTable: entry k is kept header line k (1..999).
  std::vector<std::string> header_lines;
};

// Entries 0 to 1000 of the HeaderLineTable; lines after 999 are not stored.
inline constexpr std::size_t kHeaderLineTableSize = 1001;
inline constexpr std::size_t kLastStoredHeaderLine = 999;

ScanResult ScanMessage(Pop3Context& context, int number);

// RETR into a new spool file, then DELE unless the message is kept.
ScanResult FetchMessage(Pop3Context& context, const ScannedMessage& message, std::size_t dupe_mark);
// DELE unless `keep`; marks the request served when `requested`.
ScanResult DeleteMessage(Pop3Context& context, int number, bool keep, const std::string& message_id,
                         bool requested);

// Asks the mail filter and carries out its verdict: may change the action
// and the recipient, and may write a stub.
void ApplyFilterVerdict(Pop3Context& context, ScannedMessage* message);

}  // namespace postil
