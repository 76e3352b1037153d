// The certificates of a build without a TLS library: there is nothing to
// make them with, and nothing could use them.
#include <stdexcept>

#include "support/test_certificates.h"

namespace postil::test {

TestPki MakeTestPki(const std::string&, const CertificateOptions&, const std::string&) {
  throw std::runtime_error("TLS not available in this build");
}

}  // namespace postil::test
