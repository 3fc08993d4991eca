#pragma once

#include <span>
#include <string>
#include <string_view>

namespace launchctl {

/// Arguments that follow the subcommand word.
using Args = std::span<const std::string>;

/// One subcommand: its word, usage line (without "Usage: "), summary and handler.
struct Subcommand {
  std::string_view name;
  std::string_view usage;
  std::string_view summary;
  int (*run)(const Subcommand& self, Args args);
};

/// Returns every subcommand this program understands, in the order `help` lists them.
std::span<const Subcommand> subcommands();

/// Loads job property lists into the caller's gui domain and starts those that run at load.
int runBootstrap(const Subcommand& self, Args args);
/// Stops a loaded job and unloads it.
int runBootout(const Subcommand& self, Args args);
/// Records an "enabled" override for a label.
int runEnable(const Subcommand& self, Args args);
/// Records a "disabled" override for a label.
int runDisable(const Subcommand& self, Args args);
/// Prints the recorded overrides.
int runPrintDisabled(const Subcommand& self, Args args);
/// Prints what the manager knows of one loaded job, its last runs included.
int runPrint(const Subcommand& self, Args args);
/// Prints one row per loaded job with its pid and last exit status.
int runList(const Subcommand& self, Args args);

}  // namespace launchctl
