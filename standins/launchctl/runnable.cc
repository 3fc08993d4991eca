#include "runnable.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "calendar_bounds.h"
#include "fd_io.h"
#include "unit_file.h"
#include "utf8.h"

namespace launchctl {

std::optional<std::string> whyNotRunnable(const JobConfig& config) {
  size_t commandLine = commandWord(config.program).size();
  for (const std::string& argument : config.arguments) {
    if (!isUtf8(argument)) {
      return "a program argument is not UTF-8 text";
    }
    commandLine += commandWord(argument).size() + 1;
  }
  if (commandLine > kMaxCommandLine) {
    return "its program arguments are longer than 1 MB";
  }
  for (const auto& [name, value] : config.environment) {
    if (!isUtf8(name) || !isUtf8(value)) {
      return "an environment variable is not UTF-8 text";
    }
    if (commandWord(name + "=" + value).size() > kMaxCommandLine) {
      return "an environment variable is longer than 1 MB";
    }
  }
  if (const size_t entries = boundCalendar(config.calendar).entries.size();
      entries > kMaxCalendarEntries) {
    return "StartCalendarInterval has " + std::to_string(entries) + " different entries; at most " +
           std::to_string(kMaxCalendarEntries) + " are taken";
  }
  return std::nullopt;
}

void noteInJobLog(const JobConfig& config, const std::string& line, std::FILE* fallback) {
  const std::string& log =
      config.standardErrorPath.empty() ? config.standardOutPath : config.standardErrorPath;
  if (!log.empty()) {
    // As the job opens it: from the root directory, appended to; never blocking on a FIFO.
    const std::string path = log.front() == '/' ? log : "/" + log;
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd >= 0) {
      const std::string text = line + "\n";
      const bool written = writeFully(fd, text.data(), text.size());
      close(fd);
      if (written) {
        return;
      }
    }
  }
  std::fprintf(fallback, "%s\n", line.c_str());
}

}  // namespace launchctl
