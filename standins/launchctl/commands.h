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
std::span<const Subcommand> Subcommands();

/// Loads job property lists into the caller's gui domain and starts those that run at load.
int RunBootstrap(const Subcommand& self, Args args);
/// Stops a loaded job and unloads it.
int RunBootout(const Subcommand& self, Args args);
/// Records an "enabled" override for a label.
int RunEnable(const Subcommand& self, Args args);
/// Records a "disabled" override for a label.
int RunDisable(const Subcommand& self, Args args);
/// Prints the recorded overrides.
int RunPrintDisabled(const Subcommand& self, Args args);
/// Prints one row per loaded job with its pid and last exit status.
int RunList(const Subcommand& self, Args args);

}  // namespace launchctl
