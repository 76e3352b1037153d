// Skips the calling test, or every test of a fixture from its SetUp(), where
// the tests' own TLS servers cannot run. Any thread that runs a test.
#pragma once

#include <gtest/gtest.h>

#include "support/test_system.h"

#define POSTIL_SKIP_WITHOUT_TLS()                                                           \
  do {                                                                                      \
    if (const std::string missing = ::postil::test::TlsServerMissing(); !missing.empty()) { \
      GTEST_SKIP() << missing;                                                              \
    }                                                                                       \
  } while (false)
