#include "support/PrivateKeyring.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <mutex>

namespace glowsnap::test {

namespace fs = std::filesystem;

namespace {

std::mutex& lock() {
  static std::mutex m;
  return m;
}

std::unique_ptr<PrivateKeyring>& instance() {
  static std::unique_ptr<PrivateKeyring> p;
  return p;
}

}  // namespace

PrivateKeyring::~PrivateKeyring() {
  keyring_.reset();
  bus_.reset();
  std::error_code ec;
  if (!root_.empty()) fs::remove_all(root_, ec);
}

bool PrivateKeyring::startBus(std::string* why) {
  auto daemon = findProgram("dbus-daemon");
  if (!daemon) {
    *why = "dbus-daemon is not installed";
    return false;
  }
  auto dir = makePrivateDirectory("bus", why);
  if (!dir) return false;
  root_ = *dir;
  fs::create_directories(root_ / "data");
  fs::create_directories(root_ / "run");
  ::chmod((root_ / "run").c_str(), 0700);
  // No <servicedir>: nothing is started on demand, so a test sees exactly
  // the services it started itself.
  std::ofstream(root_ / "bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
         "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig><type>session</type><listen>unix:dir="
      << root_.string()
      << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
         "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
         "<allow own=\"*\"/></policy></busconfig>\n";
  fs::path addressFile = root_ / "address";
  bus_ = ChildProcess::start({daemon->string(), "--config-file=" + (root_ / "bus.conf").string(),
                              "--nofork", "--nopidfile", "--print-address=1"},
                             {}, "", addressFile);
  if (!bus_ ||
      !waitUntil(
          [&] {
            std::ifstream in(addressFile);
            std::getline(in, address_);
            return address_.rfind("unix:", 0) == 0 || !bus_->running();
          },
          std::chrono::seconds(10)) ||
      address_.rfind("unix:", 0) != 0) {
    *why = "dbus-daemon did not start: " + (bus_ ? bus_->logText() : std::string("no process"));
    return false;
  }
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  return true;
}

bool PrivateKeyring::startKeyring(std::string* why) {
  auto daemon = findProgram("gnome-keyring-daemon");
  auto send = findProgram("dbus-send");
  if (!daemon) {
    *why = "gnome-keyring is not installed";
    return false;
  }
  if (!send) {
    *why = "dbus-send is not installed";
    return false;
  }
  std::map<std::string, std::string> env = {{"DBUS_SESSION_BUS_ADDRESS", address_},
                                            {"HOME", root_.string()},
                                            {"XDG_DATA_HOME", (root_ / "data").string()},
                                            {"XDG_CONFIG_HOME", (root_ / "config").string()},
                                            {"XDG_RUNTIME_DIR", (root_ / "run").string()}};
  keyring_ =
      ChildProcess::start({daemon->string(), "--foreground", "--unlock", "--components=secrets"},
                          env, kTestPassword, root_ / "keyring.log");
  // Ready when it owns the Secret Service's name on the bus.
  bool up =
      keyring_ && waitUntil(
                      [&] {
                        if (!keyring_->running()) return true;
                        auto probe = ChildProcess::start(
                            {send->string(), "--bus=" + address_, "--print-reply",
                             "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"},
                            {}, "", root_ / "probe.log");
                        if (!probe || probe->wait(std::chrono::seconds(5)) != 0) return false;
                        return probe->logText().find("boolean true") != std::string::npos;
                      },
                      std::chrono::seconds(15));
  if (!up || !keyring_->running()) {
    *why = "gnome-keyring-daemon did not come up: " +
           (keyring_ ? keyring_->logText() : std::string("no process"));
    keyring_.reset();
    return false;
  }
  return true;
}

PrivateKeyring* PrivateKeyring::bus(std::string* why) {
  std::lock_guard guard(lock());
  auto& p = instance();
  if (!p) {
    auto made = std::unique_ptr<PrivateKeyring>(new PrivateKeyring);
    if (!made->startBus(why)) return nullptr;
    p = std::move(made);
  }
  return p.get();
}

PrivateKeyring* PrivateKeyring::keyring(std::string* why) {
  PrivateKeyring* p = bus(why);
  if (!p) return nullptr;
  std::lock_guard guard(lock());
  if (!p->keyring_ && !p->startKeyring(why)) return nullptr;
  return p;
}

bool PrivateKeyring::keyringStarted() {
  std::lock_guard guard(lock());
  return instance() && instance()->keyring_;
}

}  // namespace glowsnap::test
