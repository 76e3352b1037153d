#include "pop3/spool_layout.h"

#include <array>
#include <cstdio>

#include "core/program_identity.h"
#include "pop3/pop3_reply.h"
#include "text/date_address.h"

namespace postil {
namespace {

constexpr std::array<std::string_view, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value % 100);
  return text;
}

}  // namespace

std::string MakeReceivedLine(std::string_view server, const platform::LocalTime& now) {
  std::string line = "Received: from " + std::string(server) + " by " +
                     std::string(kLocalHostName) + " (QUIL " + std::string(ProgramVersion) +
                     ") with POP3;\n\t";
  line += kWeekdays[static_cast<std::size_t>(now.weekday) % kWeekdays.size()];
  line += ", " + TwoDigits(now.day) + " " + MonthAbbrev(now.month) + " " + std::to_string(now.year);
  line += " " + TwoDigits(now.hour) + ":" + TwoDigits(now.minute) + ":" + TwoDigits(now.second);
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
