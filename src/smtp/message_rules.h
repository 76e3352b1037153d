// The text rules of outgoing messages: addresses taken from header lines,
// the envelope of a normal spool file, the "From:" rewrite, the client
// header line and the body line rules. Pure, any thread.
#pragma once

#include <string>
#include <string_view>

namespace postil {

// Addresses and recipients are cut to this many bytes.
inline constexpr std::size_t kMaxAddressBytes = 255;
// The sender of a batched "MAIL FROM:" line and the recipient shown for a
// batched "RCPT TO:" line are cut to this many bytes.
inline constexpr std::size_t kMaxBatchedAddressBytes = 80;

// The bare address of a header line: with "<", the text after the first "<"
// (at most 255 bytes) without any ">" or blank; otherwise the second
// blank-separated field.
std::string GetEmailAdress(std::string_view line);

// Sender and recipient of a normal spool file, gathered from its header.
struct NormalEnvelope {
  std::string sender;
  std::string recipient;
};
// Takes one header line into the envelope: the last "From:" line (any case)
// gives the sender (or `redirect` when set), the last "To:" line the
// recipient, its bracketed address when it has one.
void ScanEnvelopeLine(std::string_view line, std::string_view redirect, NormalEnvelope* envelope);

// HELO domain for a sender: the text after its first "@", or "me".
std::string HeloDomainOf(std::string_view sender);

// A "From:" header line (exact case) with every occurrence of its address
// replaced by `redirect`; any other line, or an empty redirect, unchanged.
std::string RewriteFromLine(std::string_view line, std::string_view redirect);

// Whether a header line is the mailer line that gets the client line after it.
bool IsMailerLine(std::string_view line);
// "X-Smtp-Client: " (batched: "X-BSmtp-Client: "), the product tag, the
// version and the local address of the connection.
std::string ClientLine(bool batched, std::string_view product_tag, std::string_view local_ip);
// The suffix a mailer line gets: ", via SMTP" or ", via BSMTP".
std::string_view MailerSuffix(bool batched);

// "--" becomes "-- " (a signature separator needs its blank).
std::string SignatureRule(std::string line);
// A body line of a normal spool file: dot-stuffed, then the signature rule.
std::string NormalBodyLine(std::string line);

}  // namespace postil
