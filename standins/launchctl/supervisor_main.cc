// launchctl-supervisor: the program each loaded job's supervisor runs (supervision.h), started by
// `launchctl bootstrap` with the state directory as its argument, its report pipe at kReportFd
// and the job, as encodeJobConfig wrote it, at kConfigFd. It is not meant to be run by hand.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fd_io.h"
#include "job_config_codec.h"
#include "supervision.h"
#include "supervisor.h"

int main(int argc, char** argv) {
  using namespace launchctl;
  struct stat config {};
  if (argc != 2 || fstat(kConfigFd, &config) != 0 || !S_ISREG(config.st_mode)) {
    std::fprintf(stderr, "%s is started by launchctl bootstrap, not by hand\n", argv[0]);
    return 64;
  }
  std::string bytes(static_cast<size_t>(config.st_size), '\0');
  const bool read = readFully(kConfigFd, bytes.data(), bytes.size());
  close(kConfigFd);
  const std::optional<JobConfig> job = read ? decodeJobConfig(bytes) : std::nullopt;
  if (!job) {
    return 65;  // no report: bootstrap refuses the job
  }
  bytes = std::string();
  supervise(*job, argv[1]);
}
