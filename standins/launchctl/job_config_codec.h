#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "job_config.h"

namespace launchctl {

/// A job as bytes, for the supervisor program it is handed to: every name byte for byte (labels,
/// paths and arguments need not be text).
std::string encodeJobConfig(const JobConfig& config);

/// The job encodeJobConfig wrote; nullopt for bytes it did not write.
std::optional<JobConfig> decodeJobConfig(std::string_view bytes);

}  // namespace launchctl
