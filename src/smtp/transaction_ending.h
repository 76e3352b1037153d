// How an SMTP transaction ends other than with the server taking its
// message: every way is one row of data (what the fields show, what is
// logged, whether the refusal goes back to the sender, what becomes of the
// connection), and EndTransaction applies a row. Owned by the SMTP worker.
#pragma once

#include <string_view>

namespace postil {

class SmtpSession;

// What becomes of the connection once a transaction ended.
enum class Afterwards {
  kKeep,           // goes on as it is
  kCloseIfBroken,  // closed when out of step with the server, else kept
  // When a command reached the server: closed when out of step, else "RSET"
  // ends the transaction begun on it, which would otherwise make the server
  // refuse the next file's MAIL FROM.
  kReset,
  kClose,    // cannot be trusted any more
  kAbandon,  // closed for the file's sake: data already sent cannot be taken
             // back, and the files after it may go over a new connection
};

// Applied in the order of the fields; every log line is at kFailure.
struct Ending {
  bool error_flag = true;        // SmtpErrorFlag := 1
  bool clear_sent_rcvd = false;  // SmtpSentRcvdField := ""
  std::string_view info = {};    // SmtpInfoField, unless empty
  bool show_refusal = false;     // SmtpInfoField := the reply after its code
  std::string_view log = {};     // logged first, unless empty
  bool log_command = false;      // then the command
  bool log_reply = false;        // then the reply
  bool bounce = false;           // the reply mailed back to the sender
  Afterwards afterwards = Afterwards::kKeep;
  int pause_ms = 0;  // a refusing server is given time before the next command
};

// What the transaction exchanged before it ended, as far as an ending uses it.
struct Exchange {
  std::string_view command = {};  // the command answered last
  std::string_view reply = {};    // its reply
  std::string_view sender = {};   // who is told of a refusal
  bool commands_sent = false;     // a transaction is open on the server
};

namespace ending {

// The connection failed in the middle of a dialogue that cannot be resumed.
inline constexpr Ending kConnectionLost{.clear_sent_rcvd = true,
                                        .info = "Connection lost",
                                        .log = "Connection lost",
                                        .afterwards = Afterwards::kClose};
// A send or read failed where the dialogue says nothing more.
inline constexpr Ending kChannelFailure{.afterwards = Afterwards::kClose};
// The file stays unsent; what went wrong was said where it happened.
inline constexpr Ending kUnsent{};
inline constexpr Ending kNoEnvelope{.log = "Error: no sender or recipient in Spoolfile"};
// A command of the envelope refused.
inline constexpr Ending kCommandRefused{
    .log_command = true, .log_reply = true, .afterwards = Afterwards::kReset};
// Refused where no transaction is left open: the greeting, the data's end.
inline constexpr Ending kRefusedOutside{
    .log_command = true, .log_reply = true, .afterwards = Afterwards::kCloseIfBroken};
// A normal message refused after its data.
inline constexpr Ending kMessageRefused{.log_reply = true,
                                        .afterwards = Afterwards::kCloseIfBroken};
// A batched message refused before its data: the sender hears of it.
inline constexpr Ending kBounced{.clear_sent_rcvd = true,
                                 .show_refusal = true,
                                 .log_reply = true,
                                 .bounce = true,
                                 .afterwards = Afterwards::kReset,
                                 .pause_ms = 2000};
// A batched file that ends or breaks among the commands of a message.
inline constexpr Ending kCommandsCut{.log = "Error: Spoolfile ends before DATA",
                                     .afterwards = Afterwards::kReset};
inline constexpr Ending kCommandsUnreadable{.log = "Error: Spoolfile unreadable",
                                            .afterwards = Afterwards::kReset};
// A file that ends or breaks in the data.
inline constexpr Ending kDataCut{.info = "Message abandoned",
                                 .log = "Error: Spoolfile ends without \".\", message abandoned",
                                 .afterwards = Afterwards::kAbandon};
inline constexpr Ending kDataUnreadable{.info = "Message abandoned",
                                        .log = "Error: Spoolfile unreadable, message abandoned",
                                        .afterwards = Afterwards::kAbandon};
// A batched file that says "QUIT" after commands without data: no error,
// but the transaction must not stay open for the next file.
inline constexpr Ending kQuitWithoutData{.error_flag = false, .afterwards = Afterwards::kReset};

}  // namespace ending

// Applies `ending`. True when its bounce reached the inbound spool; when a
// bounce could not be written ("Error writing Bounce to " + sender,
// kFailure, error flag) the refused message must stay, or its sender never hears
// of the refusal. False for an ending without a bounce.
bool EndTransaction(SmtpSession& session, const Ending& ending, const Exchange& exchange = {});

}  // namespace postil
