// Sending one outgoing spool file over an open SMTP connection as one
// transaction (a batched file may hold several): the envelope, the header
// with the client line and the "From:" rewrite, the body, and for a refused
// batched message the bounce and the reset. Owned by the SMTP worker.
#pragma once

namespace postil {

class SmtpSession;
class SpoolLineReader;

// A normal spool file (one RFC 822 message); true when the server took it.
bool SendNormalMessage(SmtpSession& session, SpoolLineReader& reader);

// A batched spool file; true when every message in it was taken, or the
// file ended with "QUIT" before any data.
bool SendBatchedMessage(SmtpSession& session, SpoolLineReader& reader);

}  // namespace postil
