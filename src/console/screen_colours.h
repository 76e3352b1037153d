// The colours of the status panel: the defaults, or those of the "MAILER"
// line of the host's colour file QUORVX.COL in the directory named by the
// environment variable QV. Pure parsing plus one loader; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace postil {

struct RunState;

struct ScreenColours {
  int frame = 0x70;
  int value = 0x7F;
  int title = 0x7E;
  bool operator==(const ScreenColours&) const = default;
};

// Three blank-separated words, frame, value and title colour, "$" marking a
// hexadecimal number ("$70 $7F $7E"). A word that is missing or no number
// keeps that colour's default.
ScreenColours ParseColourText(std::string_view text);

// The colour text a line of the colour file carries: the 11 characters from
// position 8 of a line whose first 6 characters are "MAILER" in any case.
std::optional<std::string> MailerColourText(std::string_view line);

// Reads the colour file (the last "MAILER" line wins). Logs "Using Quorvex
// Mailer Colors " when the file exists and "Error Reading QUORVX.COL" when it
// cannot be read; then the defaults stay.
ScreenColours LoadScreenColours(RunState& state);

}  // namespace postil
