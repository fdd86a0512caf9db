// PrivateKeyring: a D-Bus session bus of the test's own (its socket in a
// private directory, no services to activate) and, on demand, a
// gnome-keyring daemon serving the Secret Service on it, unlocked with a
// test password handed over on its standard input.
//
// The bus becomes the process's session bus (DBUS_SESSION_BUS_ADDRESS), so
// it must be set up before anything in the process talks to a session bus;
// one per process, made on first use and ended at exit.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "support/ChildProcess.h"

namespace glowsnap::test {

class PrivateKeyring {
 public:
  // The process's private bus, started on first use; nullptr (with the
  // reason in *why) when dbus-daemon is missing or does not start.
  static PrivateKeyring* bus(std::string* why);
  // The same bus with the keyring running on it; nullptr (with the reason)
  // when gnome-keyring is missing or does not come up.
  static PrivateKeyring* keyring(std::string* why);
  // Whether keyring() has been set up in this process.
  static bool keyringStarted();

  const std::string& address() const { return address_; }
  // Where the keyring keeps its files (to check that nothing is plain text).
  std::filesystem::path dataDirectory() const { return root_ / "data"; }
  static constexpr const char* kTestPassword = "glowsnap-test-keyring";

  ~PrivateKeyring();

 private:
  PrivateKeyring() = default;
  bool startBus(std::string* why);
  bool startKeyring(std::string* why);

  std::filesystem::path root_;
  std::string address_;
  std::unique_ptr<ChildProcess> bus_;
  std::unique_ptr<ChildProcess> keyring_;
};

}  // namespace glowsnap::test
