#pragma once

#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "agent.h"
#include "failed_exits.h"

/// The texts of the status menu that are made from the controller's state, in the interface
/// language. Both the menu Morvane draws itself and the one it hands to the desktop's panel
/// show them, so the two always say the same.
namespace morvane::MenuTexts {

/// The counts; "?" for the loaded one when the loaded state is unknown.
std::string header(const std::vector<Agent>& agents, bool loadedKnown);

/// "exited 3", or "killed by SIGKILL" for a job a signal ended.
std::string exitText(int64_t status);

/// "pid 4242 · disabled", then how a failed agent ended and whether its file is invalid; absent
/// when there is nothing to say.
std::optional<QString> agentDetail(const Agent& agent, const FailedExit* failed, bool invalid);

/// The status line while an operation runs.
std::string busyLine(const std::string& busy);

/// The one line in place of the rows when there are no agents.
std::string noAgents();

std::string newAgent();
std::string openFolder();
std::string launchAtLogin();
/// The switch for the notices when a run of an agent fails.
std::string notifyOnFailure();
std::string language();
std::string quit();

/// The options of the language submenu, in their order: the title and the preference each
/// stands for (absent: follow the system).
struct LanguageOption {
  std::string title;
  std::optional<std::string> preference;
};
std::vector<LanguageOption> languageOptions();

}  // namespace morvane::MenuTexts
