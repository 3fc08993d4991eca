#include "run_record.h"

#include <stdexcept>

#include "file_io.h"

namespace launchctl {
namespace {

void writeRecord(const std::filesystem::path& folder, const std::string& label,
                 const morvane::Runs& runs) {
  if (const morvane::Outcome made = morvane::createDirectories(folder); !made) {
    throw std::runtime_error(made.error().text);
  }
  // Not flushed to disk: a run's start and end are written while bootstrap or bootout waits, and
  // a crash of the machine costs at most the history of the last runs.
  if (const morvane::Outcome written = morvane::writeFileAtomicallyUnflushed(
          folder / morvane::runRecordName(label), morvane::runsText(runs));
      !written) {
    throw std::runtime_error(written.error().text);
  }
}

}  // namespace

std::filesystem::path runRecordFolder(const std::filesystem::path& stateDir) {
  return stateDir / "runs";
}

std::filesystem::path prepareRunRecordFolder(const std::filesystem::path& stateDir) {
  const std::filesystem::path folder = runRecordFolder(stateDir);
  if (const morvane::Outcome made = morvane::createDirectories(folder); !made) {
    throw std::runtime_error(made.error().text);
  }
  morvane::removeAbandonedTemporaries(folder);
  return folder;
}

morvane::Runs readRunRecord(const std::filesystem::path& folder, const std::string& label) {
  const auto text = morvane::readRegularFile(folder / morvane::runRecordName(label));
  return text ? morvane::parseRuns(*text) : morvane::Runs{};
}

int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void recordRunStart(const std::filesystem::path& folder, const std::string& label,
                    morvane::RunCause cause, int64_t startedMicros) {
  morvane::Runs runs = readRunRecord(folder, label);
  // A run still open here never had its end recorded (its supervisor was killed): its end is
  // unknown, and it is no run under way.
  std::erase_if(runs, [](const morvane::Run& run) { return !run.ended; });
  runs.push_back({startedMicros, std::nullopt, std::nullopt, cause});
  writeRecord(folder, label, runs);
}

void recordRunEnd(const std::filesystem::path& folder, const std::string& label, int status,
                  bool unloaded) {
  morvane::Runs runs = readRunRecord(folder, label);
  if (runs.empty() || runs.back().ended) {
    runs.push_back({});
  }
  runs.back().ended = nowMicros();
  runs.back().status = status;
  runs.back().unloaded = unloaded;
  writeRecord(folder, label, runs);
}

}  // namespace launchctl
