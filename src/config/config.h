// The configuration record: every setting as read from the configuration
// file, plus the results of loading. Built once by LoadConfiguration in main
// before any worker starts; read-only (const Config&) afterwards.
#pragma once

#include <string>

namespace postil {

struct Config {
  // Per-account settings hold one blank-separated word per account; use
  // SelectPop3Account / SelectSmtpAccount (accounts.h) to read them.
  std::string Pop3Server;
  std::string Pop3User;
  std::string Pop3Pass;
  std::string Pop3Port;
  std::string Pop3Spool;
  std::string Pop3TimeOut;
  std::string Pop3Envelope;
  std::string Pop3UseEnvelope;
  std::string Pop3Keep;
  std::string Pop3MaxLen;
  std::string Pop3ReportInfo;
  std::string Pop3Tls;
  std::string Pop3TlsFingerprint;
  std::string SmtpServer;
  std::string SmtpUser;
  std::string SmtpPass;
  std::string SmtpPort;
  std::string SmtpSpool;
  std::string SmtpTimeOut;
  std::string SmtpBurst;
  std::string SmtpEnvelope;
  std::string SmtpRedirect;
  std::string SmtpReportInfo;
  std::string SmtpTls;
  std::string SmtpTlsFingerprint;
  std::string TlsCaFile;  // a host path; empty: the system's store
  bool SmtpAfterPop = false;
  int SmtpAfterPopTimeOut = 0;
  int SmtpAfterPopDelay = 0;
  std::string PPP_Killfile;

  // Results of loading, set by the run control.
  bool HostBoxMode = false;   // read in the host's box-file style (bare keys)
  int HostRelease = 0;        // > 0: the host supports message requests
  bool FilterActive = false;  // the killfile was loaded (its rules are beside the record)
  std::string ProductTag;     // "QUIL+" or "QUIL"; empty when nothing was loaded
};

// The fixed local recipient of inbound spool files when Pop3Envelope is unset.
inline constexpr const char* kDefaultPop3Envelope = "postmaster@localhost";

}  // namespace postil
