// glowsnap-services: a self-hosted stand-in for the remote services Glowsnap
// shares photos with (the Mingle REST API today), for demos, tests and
// people who want their photos on their own machine.
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "platform/foundation/AtomicFile.h"
#include "services/ServiceServer.h"

namespace fs = std::filesystem;
using namespace glowsnap;
using namespace glowsnap::services;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

fs::path defaultDataDirectory() {
  if (const char* dir = std::getenv("GLOWSNAP_SERVICES_DIR"); dir && *dir) return dir;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
    return fs::path(xdg) / "glowsnap-services";
  if (const char* home = std::getenv("HOME"); home && *home)
    return fs::path(home) / ".local/share/glowsnap-services";
  return "glowsnap-services-data";
}

int fail(const std::string& message) {
  std::cerr << "glowsnap-services: " << message << "\n";
  return kExitFailure;
}

// HOST:PORT, [IPv6]:PORT, or only a port.
bool parseListen(const std::string& text, std::string& host, int& port) {
  std::string portText = text;
  if (!text.empty() && text[0] == '[') {
    auto close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return false;
    host = text.substr(1, close - 1);
    portText = text.substr(close + 2);
  } else if (auto colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
  }
  if (host.empty() || portText.empty() || portText.size() > 5) return false;
  port = 0;
  for (char c : portText) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + (c - '0');
  }
  return port <= 65535;
}

// A password from the terminal (asked twice, not echoed) or, when standard
// input is not a terminal, its first line.
std::optional<std::string> readPassword(const std::string& prompt) {
  auto readLine = [](std::string& line) {
    if (!std::getline(std::cin, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  };
  if (!::isatty(STDIN_FILENO)) {
    std::string line;
    if (!readLine(line)) return std::nullopt;
    return line;
  }
  termios old{};
  ::tcgetattr(STDIN_FILENO, &old);
  termios quiet = old;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  std::string first;
  std::string second;
  std::cerr << prompt << ": " << std::flush;
  bool ok = readLine(first);
  std::cerr << "\nOnce more: " << std::flush;
  ok = ok && readLine(second);
  std::cerr << "\n";
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
  if (!ok) return std::nullopt;
  if (first != second) {
    std::cerr << "glowsnap-services: the two passwords differ\n";
    return std::nullopt;
  }
  return first;
}

Result<std::unique_ptr<ServiceStore>> openStore(const fs::path& dir) {
  return ServiceStore::open(dir);
}

// The application a command is about: the one named by key, else the only
// one there is.
Result<Application> chooseApplication(ServiceStore& store, const std::string& key) {
  Error e;
  e.domain = "glowsnap-services";
  if (!key.empty()) {
    if (auto app = store.applicationWithKey(key)) return *app;
    e.description = "there is no application with the API key " + key;
    return e;
  }
  auto apps = store.applications();
  if (apps.size() == 1) return apps.front();
  e.description = apps.empty() ? "there is no application yet; add one with add-app NAME"
                               : "there are several applications; name one with --app KEY";
  return e;
}

int serve(ServiceOptions options) {
  auto store = openStore(options.dataDirectory);
  if (!store) return fail(store.error().description);
  PhotoFiles files(options.dataDirectory);
  ServiceContext context{options, **store, files};
  ServiceServer server(context);
  auto port = server.bind();
  if (!port) return fail(port.error().description);
  if (options.portFile) {
    if (auto s = AtomicFile::writeAll(*options.portFile, std::to_string(*port) + "\n"); !s)
      return fail(s.error().description);
  }
  std::cout << "glowsnap-services: serving " << server.baseURL() << "/ (data in "
            << options.dataDirectory.string() << ")" << std::endl;
  if ((*store)->applications().empty())
    std::cerr << "glowsnap-services: no application yet; calls are refused until one is added "
                 "with add-app NAME\n";

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    server.stop();
  });
  bool listened = server.listen();
  // Wakes the waiter when the server stopped on its own.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  if (options.portFile) {
    std::error_code ec;
    fs::remove(*options.portFile, ec);
  }
  if (!listened) return fail("the server stopped: it could not accept connections");
  std::cout << "glowsnap-services: stopped" << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Signals are taken by one thread (see serve); every thread the server
  // starts inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  CLI::App app{
      "glowsnap-services: the three services Glowsnap shares photos with (Mingle's REST API and "
      "login pages, Natter's account check, Pixdrop's upload), and pages showing what arrived, "
      "on your own machine.\n\n"
      "Without a command it serves. Before the first photo can arrive, add a user and an "
      "application:\n"
      "  glowsnap-services add-user NAME     (the password is read from standard input)\n"
      "  glowsnap-services add-app Glowsnap  (prints the API key and secret)\n"};
  app.set_version_flag("--version", "glowsnap-services 0.1.0");
  ServiceOptions options;
  options.dataDirectory = defaultDataDirectory();
  std::string dataDir = options.dataDirectory.string();
  std::string listen = options.listenHost + ":" + std::to_string(options.listenPort);
  std::string cert;
  std::string key;
  std::string portFile;
  app.add_option("--data", dataDir,
                 "Data directory: the database and the photo files (made when missing; "
                 "$GLOWSNAP_SERVICES_DIR, else $XDG_DATA_HOME/glowsnap-services)")
      ->capture_default_str();
  app.add_option("--listen", listen,
                 "Address to serve on, HOST:PORT; port 0 picks a free one (see --port-file)")
      ->capture_default_str();
  app.add_option("--cert", cert, "TLS certificate (PEM); with --key the server speaks https only")
      ->check(CLI::ExistingFile);
  app.add_option("--key", key, "TLS private key (PEM) for --cert")->check(CLI::ExistingFile);
  app.add_option("--port-file", portFile, "Write the port listened on to this file once ready");
  app.add_option("--max-body", options.maxBodyBytes,
                 "Largest request body in bytes; larger ones are refused with 413")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_option("--session-lifetime", options.sessionLifetimeSeconds,
                 "Seconds a Mingle session lasts; 0 for sessions that last until logout")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--quiet", options.quiet, "No line per request on standard error");

  int exitCode = 0;
  std::string name;
  std::string appKey;
  std::string permission;
  std::int64_t lifetime = 600;
  bool secretFromStdin = false;

  auto* addUser = app.add_subcommand("add-user",
                                     "Add a user; the password is read from standard "
                                     "input (asked twice on a terminal)");
  addUser->add_option("NAME", name, "User name: letters, digits, '.', '_', '-'")->required();
  auto* setPassword =
      app.add_subcommand("set-password", "Change a user's password (read as for add-user)");
  setPassword->add_option("NAME", name, "User name")->required();
  app.add_subcommand("list-users", "List the users and their photo counts");
  auto* addApp = app.add_subcommand(
      "add-app", "Add an application and print its API key and secret (the secret only now)");
  addApp->add_option("NAME", name, "Application name, shown with its photos")->required();
  addApp->add_option("--api-key", appKey, "Use this API key instead of a random one");
  addApp->add_flag("--secret-stdin", secretFromStdin,
                   "Read the secret from standard input instead of making one");
  app.add_subcommand("list-apps", "List the applications and their API keys");
  auto* issueToken = app.add_subcommand(
      "issue-token", "Print a one-time login token of USER for mingle.auth.getSession");
  issueToken->add_option("USER", name, "User name")->required();
  issueToken->add_option("--app", appKey, "API key of the application (when there are several)");
  issueToken->add_option("--lifetime", lifetime, "Seconds the token stays good")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  auto* grant = app.add_subcommand("grant", "Grant USER's permission (photo_upload) to an app");
  grant->add_option("USER", name, "User name")->required();
  grant->add_option("PERMISSION", permission, "Permission name, e.g. photo_upload")->required();
  grant->add_option("--app", appKey, "API key of the application (when there are several)");
  auto* revoke = app.add_subcommand("revoke", "Take a permission back");
  revoke->add_option("USER", name, "User name")->required();
  revoke->add_option("PERMISSION", permission, "Permission name")->required();
  revoke->add_option("--app", appKey, "API key of the application (when there are several)");
  app.require_subcommand(0, 1);
  for (auto* sub : app.get_subcommands({})) sub->fallthrough();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  options.dataDirectory = dataDir;
  if (!parseListen(listen, options.listenHost, options.listenPort))
    return (std::cerr << "glowsnap-services: --listen " << listen
                      << ": expected HOST:PORT, such as 127.0.0.1:8420\n",
            kExitUsage);
  if (cert.empty() != key.empty())
    return (std::cerr << "glowsnap-services: TLS needs both --cert and --key\n", kExitUsage);
  if (!cert.empty()) {
    options.certificateFile = cert;
    options.privateKeyFile = key;
  }
  if (!portFile.empty()) options.portFile = portFile;

  auto chosen = app.get_subcommands();
  if (chosen.empty()) return serve(options);
  const std::string command = chosen.front()->get_name();

  auto store = openStore(options.dataDirectory);
  if (!store) return fail(store.error().description);
  ServiceStore& s = **store;

  if (command == "add-user" || command == "set-password") {
    auto existing = s.userNamed(name);
    if (command == "set-password" && !existing) return fail("there is no user named " + name);
    if (command == "add-user" && existing) return fail("a user named " + name + " exists already");
    auto password = readPassword("Password for " + name);
    if (!password) return fail("no password was read from standard input");
    if (password->empty()) return fail("the password is empty");
    if (command == "add-user") {
      auto user = s.addUser(name, *password);
      if (!user) return fail(user.error().description);
      std::cout << "added user " << user->name << " (uid " << user->id << ")\n";
    } else {
      if (auto r = s.setPassword(existing->id, *password); !r) return fail(r.error().description);
      std::cout << "changed the password of " << name << "\n";
    }
  } else if (command == "list-users") {
    for (const User& user : s.users())
      std::cout << user.id << "\t" << user.name << "\t" << s.photoCount(user.id) << " photos\n";
  } else if (command == "add-app") {
    std::optional<std::string> secret;
    if (secretFromStdin) {
      std::string line;
      if (!std::getline(std::cin, line) || line.empty())
        return fail("no secret was read from standard input");
      if (line.back() == '\r') line.pop_back();
      secret = line;
    }
    auto made =
        s.addApplication(name, appKey.empty() ? std::nullopt : std::optional(appKey), secret);
    if (!made) return fail(made.error().description);
    std::cout << "added application " << made->name << "\napi_key " << made->apiKey << "\n";
    if (!secretFromStdin)
      std::cout << "secret  " << made->secret
                << "\n(keep the secret with the application; it is not shown again)\n";
  } else if (command == "list-apps") {
    for (const Application& a : s.applications())
      std::cout << a.id << "\t" << a.apiKey << "\t" << a.name << "\n";
  } else if (command == "issue-token" || command == "grant" || command == "revoke") {
    auto user = s.userNamed(name);
    if (!user) return fail("there is no user named " + name);
    auto application = chooseApplication(s, appKey);
    if (!application) return fail(application.error().description);
    if (command == "issue-token") {
      auto token = s.issueAuthToken(user->id, application->id, lifetime);
      if (!token) return fail(token.error().description);
      std::cout << token->token << "\n";
    } else if (command == "grant") {
      if (auto r = s.grantPermission(user->id, application->id, permission); !r)
        return fail(r.error().description);
      std::cout << "granted " << permission << " of " << user->name << " to " << application->name
                << "\n";
    } else {
      if (auto r = s.revokePermission(user->id, application->id, permission); !r)
        return fail(r.error().description);
      std::cout << "revoked " << permission << " of " << user->name << " from " << application->name
                << "\n";
    }
  }
  return exitCode;
}
