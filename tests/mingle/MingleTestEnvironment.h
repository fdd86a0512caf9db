// Shared set-up of the Mingle client's tests: a configuration directory of
// the run's own (the settings store and the cookie store live there), no
// proxy from the environment, and a glowsnap-services per test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "mingle/MGSession.h"
#include "support/ServicesProcess.h"

namespace glowsnap::test {

// A fixture with a running glowsnap-services holding the standard accounts,
// and a session for its application pointed at it (the shared session).
class MingleServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A session of the standard application, pointed at the server.
  std::shared_ptr<MGSession> makeSession();
  // A one-time login token of the standard user.
  std::string issueToken();
  // Logs session in through mingle.auth.getSession; false on failure.
  bool logIn(MGSession& session);

  std::unique_ptr<ServicesProcess> server_;
  std::shared_ptr<MGSession> session_;
};

}  // namespace glowsnap::test
