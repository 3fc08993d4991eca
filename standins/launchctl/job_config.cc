#include "job_config.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

namespace launchctl {
namespace {

/// Owns a parsed property list tree.
using PlistPtr = std::unique_ptr<void, decltype(&plist_free)>;

/// Outcome of reading one optional key: absent, present with the right type, or mistyped.
enum class Field { kAbsent, kRead, kWrongType };

/// Returns the node of a dictionary key, or null.
plist_t Item(plist_t dict, const char* key) {
  return plist_dict_get_item(dict, key);
}

/// Copies a string node's text.
std::string StringOf(plist_t node) {
  const char* text = plist_get_string_ptr(node, nullptr);
  return text != nullptr ? std::string(text) : std::string();
}

Field ReadString(plist_t dict, const char* key, std::string& out) {
  plist_t node = Item(dict, key);
  if (node == nullptr) {
    return Field::kAbsent;
  }
  if (plist_get_node_type(node) != PLIST_STRING) {
    return Field::kWrongType;
  }
  out = StringOf(node);
  return Field::kRead;
}

Field ReadBool(plist_t dict, const char* key, bool& out) {
  plist_t node = Item(dict, key);
  if (node == nullptr) {
    return Field::kAbsent;
  }
  if (plist_get_node_type(node) != PLIST_BOOLEAN) {
    return Field::kWrongType;
  }
  std::uint8_t value = 0;
  plist_get_bool_val(node, &value);
  out = value != 0;
  return Field::kRead;
}

Field ReadSeconds(plist_t dict, const char* key, unsigned& out) {
  plist_t node = Item(dict, key);
  if (node == nullptr) {
    return Field::kAbsent;
  }
  if (plist_get_node_type(node) != PLIST_UINT) {
    return Field::kWrongType;
  }
  std::uint64_t value = 0;
  plist_get_uint_val(node, &value);
  // Negative integers arrive as huge unsigned values; cap them at a day.
  out = static_cast<unsigned>(std::min<std::uint64_t>(value, 86400));
  return Field::kRead;
}

Field ReadStringArray(plist_t dict, const char* key, std::vector<std::string>& out) {
  plist_t node = Item(dict, key);
  if (node == nullptr) {
    return Field::kAbsent;
  }
  if (plist_get_node_type(node) != PLIST_ARRAY) {
    return Field::kWrongType;
  }
  const std::uint32_t size = plist_array_get_size(node);
  for (std::uint32_t i = 0; i < size; ++i) {
    plist_t element = plist_array_get_item(node, i);
    if (element == nullptr || plist_get_node_type(element) != PLIST_STRING) {
      return Field::kWrongType;
    }
    out.push_back(StringOf(element));
  }
  return Field::kRead;
}

Field ReadStringDict(plist_t dict, const char* key, std::map<std::string, std::string>& out) {
  plist_t node = Item(dict, key);
  if (node == nullptr) {
    return Field::kAbsent;
  }
  if (plist_get_node_type(node) != PLIST_DICT) {
    return Field::kWrongType;
  }
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(node, &iter);
  Field result = Field::kRead;
  for (;;) {
    char* name = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(node, iter, &name, &value);
    if (name == nullptr) {
      break;
    }
    if (value == nullptr || plist_get_node_type(value) != PLIST_STRING) {
      result = Field::kWrongType;
    } else {
      out[name] = StringOf(value);
    }
    std::free(name);
  }
  std::free(iter);
  return result;
}

/// KeepAlive may be a boolean or a dictionary of conditions; conditions are not supported, so
/// a dictionary loads the job without keeping it alive.
Field ReadKeepAlive(plist_t dict, bool& out) {
  plist_t node = Item(dict, "KeepAlive");
  if (node != nullptr && plist_get_node_type(node) == PLIST_DICT) {
    out = false;
    return Field::kRead;
  }
  return ReadBool(dict, "KeepAlive", out);
}

/// Reads every optional key; false when one of them has the wrong type.
bool ReadOptionalKeys(plist_t dict, JobConfig& config) {
  const Field fields[] = {
      ReadStringDict(dict, "EnvironmentVariables", config.environment),
      ReadString(dict, "WorkingDirectory", config.working_directory),
      ReadString(dict, "StandardOutPath", config.stdout_path),
      ReadString(dict, "StandardErrorPath", config.stderr_path),
      ReadBool(dict, "RunAtLoad", config.run_at_load),
      ReadKeepAlive(dict, config.keep_alive),
      ReadBool(dict, "AbandonProcessGroup", config.abandon_process_group),
      ReadSeconds(dict, "ExitTimeOut", config.exit_timeout),
  };
  for (Field field : fields) {
    if (field == Field::kWrongType) {
      return false;
    }
  }
  return true;
}

/// Reads Label, Program and ProgramArguments; false when the job cannot be run.
bool ReadIdentity(plist_t dict, JobConfig& config) {
  if (ReadString(dict, "Label", config.label) != Field::kRead || config.label.empty()) {
    return false;
  }
  const Field program = ReadString(dict, "Program", config.program);
  const Field arguments = ReadStringArray(dict, "ProgramArguments", config.arguments);
  if (program == Field::kWrongType || arguments == Field::kWrongType) {
    return false;
  }
  if (program == Field::kRead && config.program.empty()) {
    return false;
  }
  if (config.arguments.empty()) {
    if (config.program.empty()) {
      return false;
    }
    config.arguments.push_back(config.program);
  }
  return !config.arguments.front().empty() || !config.program.empty();
}

}  // namespace

std::optional<JobConfig> ParseJobConfig(std::string_view data) {
  if (data.empty() || data.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  plist_t root = nullptr;
  plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &root);
  if (root == nullptr) {
    return std::nullopt;
  }
  const PlistPtr owner(root, &plist_free);
  JobConfig config;
  if (plist_get_node_type(root) != PLIST_DICT || !ReadIdentity(root, config) ||
      !ReadOptionalKeys(root, config)) {
    return std::nullopt;
  }
  return config;
}

int ReadWholeFile(const std::string& path, std::string& out) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return errno;
  }
  char buffer[8192];
  int error = 0;
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      error = errno;
    }
    if (n <= 0) {
      break;
    }
    out.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return error;
}

}  // namespace launchctl
