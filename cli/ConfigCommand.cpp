#include "cli/ConfigCommand.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/ApplyCommand.h"
#include "cli/Terminal.h"
#include "settings/AppSettings.h"

namespace glowsnap::cli {

namespace {

constexpr int kExitUnset = 1;
constexpr int kExitFailure = 1;

struct Options {
  std::string key;
  std::string value;
  bool hasValue = false;
};

int complain(const std::string& message, int code) {
  std::fprintf(stderr, "glowsnap config: %s\n", message.c_str());
  return code;
}

AppSettings settings() {
  return AppSettings(Defaults::standard(), &CredentialStorage::sharedCredentialStorage());
}

// The secret for key: asked on the terminal without echo, or one line of a
// standard input that is not a terminal (for scripts).
std::optional<std::string> readSecret(const std::string& key) {
  if (!::isatty(STDIN_FILENO)) {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  return askPassword(key + " (not shown): ");
}

int list() {
  AppSettings s = settings();
  for (const SettingInfo& info : AppSettings::known()) {
    std::string line = info.key;
    if (info.kind == SettingKind::Secret) {
      line += s.isSet(info.key) ? " = (set, kept in the keyring)" : " (not set)";
    } else if (s.isSet(info.key)) {
      line += " = " + s.text(info.key).value_or("");
    } else if (*info.defaultValue) {
      line += " = " + std::string(info.defaultValue) + " (default)";
    } else {
      line += " (not set)";
    }
    std::printf("%s\n", line.c_str());
    if (s.hasPlainCopy(info.key))
      std::fprintf(stderr,
                   "glowsnap config: warning: %s also stands in plain text in %s; it is not used "
                   "(glowsnap config set %s replaces it with a keyring entry)\n",
                   info.key, Defaults::standard().file().c_str(), info.key);
  }
  for (const std::string& key : s.unknownKeysInFile())
    std::printf("%s = %s (not a setting of glowsnap)\n", key.c_str(),
                s.text(key).value_or("…").c_str());
  return 0;
}

int get(const Options& o) {
  AppSettings s = settings();
  const SettingInfo* info = AppSettings::info(o.key);
  if (!info && !Defaults::standard().hasKey(o.key))
    return complain(o.key + ": no such setting (glowsnap config list shows them)", kExitUsage);
  if (info && info->kind == SettingKind::Secret) {
    if (!s.isSet(o.key)) return kExitUnset;
    std::fprintf(stderr, "glowsnap config: %s is set; a password is never shown\n", o.key.c_str());
    return 0;
  }
  auto value = s.text(o.key);
  if (!value) return kExitUnset;
  std::printf("%s\n", value->c_str());
  return 0;
}

int set(const Options& o) {
  const SettingInfo* info = AppSettings::info(o.key);
  if (!info)
    return complain(o.key + ": no such setting (glowsnap config list shows them)", kExitUsage);
  std::string value = o.value;
  if (info->kind == SettingKind::Secret) {
    if (o.hasValue)
      return complain(o.key +
                          ": a password is not given on the command line (others could read it "
                          "there); leave it out to be asked for it",
                      kExitUsage);
    auto read = readSecret(o.key);
    if (!read) return complain(o.key + ": no password given and no terminal to ask", kExitUsage);
    if (read->empty())
      return complain(o.key + ": the password is empty; nothing changed", kExitUsage);
    value = *read;
  } else if (!o.hasValue) {
    return complain(o.key + ": which value? (glowsnap config set " + o.key + " VALUE)", kExitUsage);
  }
  auto done = settings().set(o.key, value);
  if (!done) {
    int code = done.error().code == kSettingsInvalidValue ? kExitUsage : kExitFailure;
    return complain(done.error().description, code);
  }
  if (info->kind == SettingKind::Secret)
    std::fprintf(stderr, "glowsnap config: %s kept in the keyring\n", o.key.c_str());
  return 0;
}

int unset(const Options& o) {
  auto done = settings().unset(o.key);
  if (!done)
    return complain(done.error().description,
                    done.error().code == kSettingsUnknownKey ? kExitUsage : kExitFailure);
  return 0;
}

}  // namespace

void ConfigCommand::add(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<Options>();
  std::string keys;
  for (const SettingInfo& info : AppSettings::known())
    keys += std::string("\n  ") + info.key + ": " + info.help;
  auto* cmd = app.add_subcommand(
      "config", "Show or change the settings of glowsnap-gui (sharing accounts and servers)");
  cmd->require_subcommand(1);
  cmd->footer("Settings:" + keys +
              "\nThe settings file is $GLOWSNAP_CONFIG_DIR/defaults.json or "
              "~/.config/glowsnap/defaults.json; passwords are kept in the desktop's keyring.\n");

  cmd->add_subcommand("list", "Every setting with its value, or its default")
      ->callback([&exitCode] { exitCode = list(); });

  auto* getCmd = cmd->add_subcommand("get", "Print a setting's value (exit status 1 when unset)");
  getCmd->add_option("KEY", options->key, "The setting")->required();
  getCmd->callback([options, &exitCode] { exitCode = get(*options); });

  auto* setCmd = cmd->add_subcommand(
      "set", "Change a setting; a password is asked for without echo (or read from stdin)");
  setCmd->add_option("KEY", options->key, "The setting")->required();
  setCmd->add_option("VALUE", options->value, "The new value (not for passwords)");
  setCmd->callback([options, setCmd, &exitCode] {
    options->hasValue = setCmd->count("VALUE") > 0;
    exitCode = set(*options);
  });

  auto* unsetCmd = cmd->add_subcommand("unset", "Remove a setting (its default applies again)");
  unsetCmd->add_option("KEY", options->key, "The setting")->required();
  unsetCmd->callback([options, &exitCode] { exitCode = unset(*options); });
}

}  // namespace glowsnap::cli
