// The POP3 dialogue around the messages: connection and greeting, login,
// mailbox status and the end of the session, with their screen texts, flags
// and log lines. POP3 worker only.
#pragma once

#include <cstdint>
#include <optional>

#include "core/channel.h"
#include "pop3/pop3_context.h"

namespace postil {

// Opens the channel under the state mutex until the greeting is read, and
// logs in. True when logged in; otherwise the channel is closed again.
bool Pop3Connect(Pop3Context& context);
// USER and PASS. True when both were accepted.
bool Pop3Login(Pop3Context& context);
// STAT: the message count, or nothing when the server refused it.
std::optional<std::int64_t> Pop3Stat(Pop3Context& context);
// QUIT, then the channel is closed. True when the server said +OK.
bool Pop3Quit(Pop3Context& context);

// Writes the command (the channel adds CR LF) and reads one reply line:
// kLine, kCutAtEnd (the server closed after it) or, with `reply` empty, a
// failure of the channel.
ReadResult Pop3Command(Pop3Context& context, std::string_view command, std::string* reply);

// Detaches the channel from the kill keys and closes it.
void ClosePop3Channel(Pop3Context& context);

}  // namespace postil
