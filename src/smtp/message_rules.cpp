#include "smtp/message_rules.h"

#include "core/program_identity.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

constexpr std::string_view kClientCredit = " Internet mail module for Quorvex";

bool StartsUpper(std::string_view line, std::string_view upper_prefix) {
  return line.size() >= upper_prefix.size() &&
         UpperCase(line.substr(0, upper_prefix.size())) == upper_prefix;
}

}  // namespace

std::string GetEmailAdress(std::string_view line) {
  std::size_t open = line.find('<');
  if (open != std::string_view::npos) {
    std::string address;
    for (char c : line.substr(open + 1, kMaxAddressBytes)) {
      if (c != '>' && c != ' ') address += c;
    }
    return address;
  }
  std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return {};
  std::string_view rest = line.substr(first + 1);
  return std::string(rest.substr(0, rest.find(' ')));
}

void ScanEnvelopeLine(std::string_view line, std::string_view redirect, NormalEnvelope* envelope) {
  if (StartsUpper(line, "FROM:")) {
    envelope->sender = redirect.empty() ? GetEmailAdress(line) : std::string(redirect);
  }
  if (StartsUpper(line, "TO:")) {
    std::string_view value = line.size() > 4 ? line.substr(4, kMaxAddressBytes) : std::string_view();
    // A display name with a bracketed address would make "RCPT TO:<Anna
    // <a@b>>", which no server takes: send the bracketed address alone.
    envelope->recipient =
        value.find('<') != std::string_view::npos ? GetEmailAdress(line) : std::string(value);
  }
}

std::string HeloDomainOf(std::string_view sender) {
  std::size_t at = sender.find('@');
  if (at == std::string_view::npos) return "me";
  return std::string(sender.substr(at + 1, kMaxAddressBytes));
}

std::string RewriteFromLine(std::string_view line, std::string_view redirect) {
  std::string result(line);
  if (redirect.empty() || !line.starts_with("From:")) return result;
  std::string address = GetEmailAdress(line);
  if (address.empty()) return result;
  for (std::size_t at = result.find(address); at != std::string::npos;
       at = result.find(address, at + redirect.size())) {
    result.replace(at, address.size(), redirect);
  }
  return result;
}

bool IsMailerLine(std::string_view line) { return line.starts_with("X-Mailer:"); }

std::string_view MailerSuffix(bool batched) { return batched ? ", via BSMTP" : ", via SMTP"; }

std::string ClientLine(bool batched, std::string_view product_tag, std::string_view local_ip) {
  std::string line(batched ? "X-BSmtp-Client: " : "X-Smtp-Client: ");
  line += product_tag;
  line += ' ';
  line += ProgramVersion;
  line += " (";
  line += local_ip;
  line += ')';
  line += kClientCredit;
  return line;
}

std::string SignatureRule(std::string line) {
  if (line == "--") line = "-- ";
  return line;
}

std::string NormalBodyLine(std::string line) {
  if (line.starts_with('.')) line.insert(0, 1, '.');
  return SignatureRule(std::move(line));
}

}  // namespace postil
