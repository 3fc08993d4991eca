#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "connection.h"

namespace user_manager {

/// What `list` needs of a service: its main process and how its last one ended.
struct ServiceRuntime {
  pid_t mainPid = 0;
  std::int32_t execMainCode = 0;  ///< CLD_EXITED, CLD_KILLED, CLD_DUMPED; 0 when none ended.
  std::int32_t execMainStatus = 0;
};

/// The properties to ask of one service; an answer not asked for stays 0.
struct RuntimeRequest {
  std::string service;
  bool mainPid = false;
  bool lastExit = false;  ///< ExecMainCode and ExecMainStatus
};

/// Properties of many services asked for at once, one message each, all sent before any answer
/// is read; the caller may work meanwhile, and collects the answers with await().
class PendingRuntimes {
 public:
  /// Sends every request; throws ManagerError when one cannot be sent.
  PendingRuntimes(Connection& connection, const std::vector<RuntimeRequest>& requests);
  ~PendingRuntimes();
  PendingRuntimes(const PendingRuntimes&) = delete;
  PendingRuntimes& operator=(const PendingRuntimes&) = delete;

  /// Waits for every answer: the runtimes in the order of the requests. Throws ManagerError
  /// when the manager goes away or stops answering.
  std::vector<ServiceRuntime> await();

 private:
  struct Batch;
  Connection& connection_;
  std::unique_ptr<Batch> batch_;
};

/// The runtimes of `requests`, asked for all at once.
std::vector<ServiceRuntime> serviceRuntimes(Connection& connection,
                                            const std::vector<RuntimeRequest>& requests);

}  // namespace user_manager
