// The outgoing spool directory of one SMTP server: every "M????.OUT" file,
// then every "*.EML" file, each classified by its first bytes, sent and
// deleted once the server took it. Owned by the SMTP worker.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "smtp/spool_remainder.h"

namespace postil {

class SmtpSession;

enum class SpoolFormat { kBatched, kNormal, kUnknown };

// By the first four bytes, upper-cased: "HELO" batched, "FROM" normal.
SpoolFormat DecideSpoolFormat(std::string_view first_bytes);

// Names of the files a server's turn has tried already (over any of its
// connections): each file is tried once a run.
using TriedFiles = std::set<std::string>;

// Sends the files of the session's spool directory that were not tried
// yet over its connection, until they are done, the connection is closed
// or an exit is requested. Each file is added to `tried`. `rewriter` cuts
// the messages done from a batched file of several.
void SendSpoolDirectory(SmtpSession& session, TriedFiles* tried,
                        SpoolRewriter& rewriter = DiskSpoolRewriter());

// True when `dir` holds a spool file not in `tried`.
bool HasUntriedFiles(std::string_view dir, const TriedFiles& tried);

// One file (a name in the spool directory); true when it was sent, and
// then it is deleted.
bool SendSpoolFile(SmtpSession& session, const std::string& name,
                   SpoolRewriter& rewriter = DiskSpoolRewriter());

}  // namespace postil
