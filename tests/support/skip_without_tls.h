// Skips the calling test, or every test of a fixture from its SetUp(), in a
// build that has no TLS library: there is nothing to make the certificates
// with, and nothing that could use them. Any thread that runs a test.
#pragma once

#include <gtest/gtest.h>

#include "platform/transport.h"

#define POSTIL_SKIP_WITHOUT_TLS()                \
  do {                                           \
    if (::postil::TlsLibraryVersion().empty()) { \
      GTEST_SKIP() << "no TLS in this build";    \
    }                                            \
  } while (false)
