#include "entry.h"

#include <signal.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "cli.h"
#include "interruptions.h"
#include "platform.h"

namespace morvane {
namespace {

constexpr const char* kOptions[] = {"--list",   "--selftest", "--update",   "--check",   "--load",
                                    "--unload", "--status",   "--help",     "--version", "--json",
                                    "--lines",  "--new",      "--schedule", "--at",      "--on",
                                    "--day",    "--every",    "--none"};

bool isOption(const std::string& argument) {
  return std::find(std::begin(kOptions), std::end(kOptions), argument) != std::end(kOptions);
}

/// The argument right after the first `option`; absent when there is none or it is an option.
std::optional<std::string> operand(const std::vector<std::string>& arguments, const char* option) {
  auto at = std::find(arguments.begin(), arguments.end(), option);
  if (at == arguments.end() || std::next(at) == arguments.end() || isOption(*std::next(at)))
    return std::nullopt;
  return *std::next(at);
}

/// A decimal number of lines from 0 to CLI::kMaxLogLines, and nothing else.
std::optional<size_t> lineCount(const std::string& text) {
  size_t count = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      count > CLI::kMaxLogLines)
    return std::nullopt;
  return count;
}

/// The arguments options are looked for in: all of them, unless "--new" stands before a "--";
/// then only those before that "--", since the new agent's program and arguments follow it.
std::vector<std::string> optionArguments(const std::vector<std::string>& arguments) {
  auto created = std::find(arguments.begin(), arguments.end(), "--new");
  return {arguments.begin(), std::find(created, arguments.end(), "--")};
}

/// "--new <label> [--at-load] [--keep-alive] [--every <seconds>] [--at HH:MM] [--on <days>]
/// [--day D] [--log <file>] -- <program> [<argument>…]".
std::expected<NewAgentRequest, UsageError> parseNewAgent(
    const std::vector<std::string>& arguments) {
  auto at = std::next(std::find(arguments.begin(), arguments.end(), "--new"));
  if (at == arguments.end() || at->starts_with("--"))
    return std::unexpected(UsageError{UsageError::missingLabel, "--new"});
  NewAgentRequest request;
  request.label = *at++;
  for (; at != arguments.end() && *at != "--"; ++at) {
    const bool hasOperand = std::next(at) != arguments.end() && *std::next(at) != "--";
    if (*at == "--at-load") {
      request.atLoad = true;
    } else if (*at == "--keep-alive") {
      request.keepAlive = true;
    } else if (*at == "--every") {
      request.schedule.every = hasOperand ? *++at : "";
    } else if (*at == "--at") {
      request.schedule.at = hasOperand ? *++at : "";
    } else if (*at == "--on") {
      request.schedule.on = hasOperand ? *++at : "";
    } else if (*at == "--day") {
      request.schedule.day = hasOperand ? *++at : "";
    } else if (*at == "--log" && hasOperand) {
      request.log = *++at;
    } else if (*at == "--log") {
      return std::unexpected(UsageError{UsageError::missingLogFile, "--log"});
    } else {
      return std::unexpected(UsageError{UsageError::unknownNewOption, *at});
    }
  }
  if (at == arguments.end() || std::next(at) == arguments.end())
    return std::unexpected(UsageError{UsageError::missingProgram, "--new"});
  request.command.assign(std::next(at), arguments.end());
  return request;
}

/// "--at", "--on", "--day" and "--every" with their operands (empty when an option stands
/// next or nothing does), and "--none", wherever they stand.
ScheduleOptions scheduleOptions(const std::vector<std::string>& arguments) {
  auto given = [&](const char* option) -> std::optional<std::string> {
    if (std::find(arguments.begin(), arguments.end(), option) == arguments.end())
      return std::nullopt;
    return operand(arguments, option).value_or("");
  };
  ScheduleOptions options;
  options.every = given("--every");
  options.at = given("--at");
  options.on = given("--on");
  options.day = given("--day");
  options.none = std::find(arguments.begin(), arguments.end(), "--none") != arguments.end();
  return options;
}

}  // namespace

Mode chooseMode(const std::vector<std::string>& allArguments) {
  const std::vector<std::string> arguments = optionArguments(allArguments);
  auto has = [&](const char* option) {
    return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
  };
  if (has("--list"))
    return Mode::list;
  if (has("--selftest"))
    return Mode::selfTest;
  if (has("--update"))
    return has("--check") ? Mode::checkForUpdate : Mode::update;
  if (has("--load"))
    return Mode::load;
  if (has("--unload"))
    return Mode::unload;
  if (has("--status"))
    return Mode::status;
  if (has("--new"))
    return Mode::newAgent;
  if (has("--schedule"))
    return Mode::schedule;
  if (has("--check"))
    return Mode::check;
  if (has("--help"))
    return Mode::help;
  if (has("--version"))
    return Mode::version;
  return Mode::menuBarApp;
}

std::expected<Invocation, UsageError> parseInvocation(
    const std::vector<std::string>& allArguments) {
  Invocation invocation;
  invocation.mode = chooseMode(allArguments);
  if (invocation.mode == Mode::newAgent) {
    std::expected<NewAgentRequest, UsageError> request = parseNewAgent(allArguments);
    if (!request)
      return std::unexpected(request.error());
    invocation.newAgent = std::move(*request);
    return invocation;
  }
  const std::vector<std::string> arguments = optionArguments(allArguments);
  invocation.json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
  if (invocation.mode == Mode::check) {
    auto after = std::next(std::find(arguments.begin(), arguments.end(), "--check"));
    std::copy_if(after, arguments.end(), std::back_inserter(invocation.agents),
                 [](const std::string& argument) { return !isOption(argument); });
    return invocation;
  }
  const char* agentOption = invocation.mode == Mode::load       ? "--load"
                            : invocation.mode == Mode::unload   ? "--unload"
                            : invocation.mode == Mode::status   ? "--status"
                            : invocation.mode == Mode::schedule ? "--schedule"
                                                                : nullptr;
  if (agentOption == nullptr)
    return invocation;
  std::optional<std::string> agent = operand(arguments, agentOption);
  if (!agent)
    return std::unexpected(UsageError{UsageError::missingAgent, agentOption});
  invocation.agent = *agent;
  if (invocation.mode == Mode::schedule)
    invocation.schedule = scheduleOptions(arguments);
  if (invocation.mode == Mode::status &&
      std::find(arguments.begin(), arguments.end(), "--lines") != arguments.end()) {
    std::optional<size_t> lines = lineCount(operand(arguments, "--lines").value_or(""));
    if (!lines)
      return std::unexpected(UsageError{UsageError::badLineCount, "--lines"});
    invocation.lines = *lines;
  }
  return invocation;
}

void putHelpersFirstOnPath() {
  const std::string helpers = platform::toolPath(platform::Tool::open).parent_path().string();
  const char* path = std::getenv("PATH");
  const std::string value = path != nullptr && path[0] != '\0' ? helpers + ":" + path : helpers;
  ::setenv("PATH", value.c_str(), 1);
}

bool isModuleMode(Mode mode) {
  return mode == Mode::update || mode == Mode::checkForUpdate || mode == Mode::menuBarApp;
}

void holdTerminationSignals() {
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGTERM);
  sigaddset(&held, SIGINT);
  ::sigprocmask(SIG_BLOCK, &held, nullptr);
}

int runEntry(int argc, char** argv, ModuleRunner runModule) {
  // The menu-bar application quits with status 0 on SIGTERM from its first moment: the signal
  // waits, blocked, until the application module can take it as a quit.
  if (chooseMode(std::vector<std::string>(argv, argv + argc)) == Mode::menuBarApp)
    holdTerminationSignals();
  // A parent that ignores SIGCHLD would leave us unable to collect any child's status.
  ::signal(SIGCHLD, SIG_DFL);
  putHelpersFirstOnPath();
  std::expected<Invocation, UsageError> invocation =
      parseInvocation(std::vector<std::string>(argv, argv + argc));
  if (!invocation)
    return CLI::usageError(invocation.error().ofNewAgent() ? std::cerr : std::cout,
                           invocation.error(), std::cerr);
  switch (invocation->mode) {
    case Mode::list:
      return invocation->json ? CLI::listJson(std::cout, std::cerr)
                              : CLI::list(std::cout, std::cerr);
    case Mode::selfTest:
      if (int status = CLI::selfTest(std::cout, std::cerr); CLI::signalOfStatus(status) != 0)
        CLI::endBySignal(CLI::signalOfStatus(status));
      else
        return status;
    case Mode::update:
    case Mode::checkForUpdate:
    case Mode::menuBarApp:
      return runModule(invocation->mode, argc, argv);
    case Mode::load:
    case Mode::unload:
      return CLI::setLoaded(std::cout, invocation->agent, invocation->mode == Mode::load,
                            std::cerr);
    case Mode::status:
      return invocation->json
                 ? CLI::statusJson(std::cout, invocation->agent, std::cerr)
                 : CLI::status(std::cout, invocation->agent, invocation->lines, std::cerr);
    case Mode::newAgent:
      return CLI::newAgent(std::cout, std::cerr, invocation->newAgent);
    case Mode::schedule:
      return CLI::setSchedule(std::cout, std::cerr, invocation->agent, invocation->schedule);
    case Mode::check:
      return invocation->json ? CLI::checkJson(std::cout, invocation->agents, std::cerr)
                              : CLI::check(std::cout, invocation->agents, std::cerr);
    case Mode::help:
      return CLI::help(std::cout, std::cerr);
    case Mode::version:
      return CLI::version(std::cout);
  }
  return 1;
}

}  // namespace morvane
