#include "cli/ListCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "cli/FilterNames.h"

namespace glowsnap::cli {

void ListCommand::add(CLI::App& app, int& exitCode) {
  auto all = std::make_shared<bool>(false);
  auto* cmd = app.add_subcommand("list", "List the filters, one display name a line");
  cmd->add_flag("-a,--all", *all, "Also list the library filters the app does not offer");
  cmd->callback([all, &exitCode] {
    for (const auto& name : FilterNames::offered()) std::printf("%s\n", name.c_str());
    if (*all)
      for (const auto& name : FilterNames::library()) std::printf("%s (library)\n", name.c_str());
    exitCode = 0;
  });
}

}  // namespace glowsnap::cli
