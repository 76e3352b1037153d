// The outgoing spool directory of one SMTP server: every "M????.OUT" file,
// then every "*.EML" file, each classified by its first bytes, sent and
// deleted once the server took it. Owned by the SMTP worker.
#pragma once

#include <string>
#include <string_view>

namespace postil {

class SmtpSession;

enum class SpoolFormat { kBatched, kNormal, kUnknown };

// By the first four bytes, upper-cased: "HELO" batched, "FROM" normal.
SpoolFormat DecideSpoolFormat(std::string_view first_bytes);

// Sends the files of the session's spool directory over its connection
// until they are done, the connection is lost or an exit is requested.
void SendSpoolDirectory(SmtpSession& session);

// One file (a name in the spool directory); true when it was sent, and
// then it is deleted.
bool SendSpoolFile(SmtpSession& session, const std::string& name);

}  // namespace postil
