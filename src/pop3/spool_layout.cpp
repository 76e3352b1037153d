#include "pop3/spool_layout.h"

#include "core/program_identity.h"
#include "pop3/pop3_reply.h"
#include "text/date_address.h"

namespace postil {

std::string MakeReceivedLine(std::string_view server, const platform::LocalTime& now) {
  std::string line = "Received: from " + std::string(server) + " by " +
                     std::string(kLocalHostName) + " (QUIL " + std::string(ProgramVersion) +
                     ") with POP3;\n\t";
  line += kWeekdayAbbrevs[static_cast<std::size_t>(now.weekday) % kWeekdayAbbrevs.size()];
  line += ", " + TwoDigits(now.day) + " " + MonthAbbrev(now.month) + " " + std::to_string(now.year);
  line += " " + ClockText(now.hour, now.minute, now.second);
  // The zone text is fixed, whatever the local zone is.
  line += " +0000 (MET)";
  return line;
}

std::string SpoolPreamble(std::string_view server, std::string_view recipient,
                          const platform::LocalTime& now, bool request_line) {
  std::string text = "HELO " + std::string(server) + "\nRCPT TO:<" + std::string(recipient) +
                     ">\nDATA\n" + MakeReceivedLine(server, now) + "\n";
  if (request_line) text += std::string(kRequestLine) + "\n";
  return text;
}

std::string StubText(std::string_view summary, std::int64_t size, std::string_view header_text) {
  if (!header_text.empty() && header_text.back() == '\n') header_text.remove_suffix(1);
  return "X-QV-Mode: TopOfMail\nSummary: " + std::string(summary) + " (Original Size:" + Str(size) +
         " Byte)\n" + std::string(header_text);
}

}  // namespace postil
