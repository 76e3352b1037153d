// Sending one outgoing spool file over an open SMTP connection as one
// transaction (a batched file may hold several): the envelope, the header
// with the client line and the "From:" rewrite, the body, and for a refused
// batched message the bounce and the reset. Owned by the SMTP worker.
#pragma once

namespace postil {

class SmtpSession;
class SpoolLineReader;
class SpoolRemainder;

// A normal spool file (one RFC 822 message); true when the server took it.
bool SendNormalMessage(SmtpSession& session, SpoolLineReader& reader);

// A batched spool file; true when no message in it is left to send: every
// one was taken, or, in a file of several, refused for good and bounced; or
// the file ended with "QUIT" before any data. Messages done before one that
// failed are cut from the file through `remainder`.
bool SendBatchedMessage(SmtpSession& session, SpoolLineReader& reader, SpoolRemainder& remainder);

}  // namespace postil
