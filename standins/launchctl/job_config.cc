#include "job_config.h"

#include <plist/plist.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

#include "file_io.h"
#include "property_list.h"

namespace launchctl {
namespace {

/// Owns a parsed property list tree.
using PlistPtr = std::unique_ptr<void, decltype(&plist_free)>;

/// Outcome of reading one optional key: absent, present with the right type, or mistyped.
enum class Field { absent, read, wrongType };

/// Returns the node of a dictionary key, or null.
plist_t item(plist_t dict, const char* key) {
  return plist_dict_get_item(dict, key);
}

/// Copies a string node's text.
std::string stringOf(plist_t node) {
  const char* text = plist_get_string_ptr(node, nullptr);
  return text != nullptr ? std::string(text) : std::string();
}

Field readString(plist_t dict, const char* key, std::string& out) {
  plist_t node = item(dict, key);
  if (node == nullptr) {
    return Field::absent;
  }
  if (plist_get_node_type(node) != PLIST_STRING) {
    return Field::wrongType;
  }
  out = stringOf(node);
  return Field::read;
}

Field readBool(plist_t dict, const char* key, bool& out) {
  plist_t node = item(dict, key);
  if (node == nullptr) {
    return Field::absent;
  }
  if (plist_get_node_type(node) != PLIST_BOOLEAN) {
    return Field::wrongType;
  }
  std::uint8_t value = 0;
  plist_get_bool_val(node, &value);
  out = value != 0;
  return Field::read;
}

Field readSeconds(plist_t dict, const char* key, unsigned& out) {
  plist_t node = item(dict, key);
  if (node == nullptr) {
    return Field::absent;
  }
  if (plist_get_node_type(node) != PLIST_UINT) {
    return Field::wrongType;
  }
  std::uint64_t value = 0;
  plist_get_uint_val(node, &value);
  // Negative integers arrive as huge unsigned values; cap them at a day.
  out = static_cast<unsigned>(std::min<std::uint64_t>(value, 86400));
  return Field::read;
}

Field readStringArray(plist_t dict, const char* key, std::vector<std::string>& out) {
  plist_t node = item(dict, key);
  if (node == nullptr) {
    return Field::absent;
  }
  if (plist_get_node_type(node) != PLIST_ARRAY) {
    return Field::wrongType;
  }
  const std::uint32_t size = plist_array_get_size(node);
  for (std::uint32_t i = 0; i < size; ++i) {
    plist_t element = plist_array_get_item(node, i);
    if (element == nullptr || plist_get_node_type(element) != PLIST_STRING) {
      return Field::wrongType;
    }
    out.push_back(stringOf(element));
  }
  return Field::read;
}

Field readStringDict(plist_t dict, const char* key, std::map<std::string, std::string>& out) {
  plist_t node = item(dict, key);
  if (node == nullptr) {
    return Field::absent;
  }
  if (plist_get_node_type(node) != PLIST_DICT) {
    return Field::wrongType;
  }
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(node, &iter);
  Field result = Field::read;
  for (;;) {
    char* name = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(node, iter, &name, &value);
    if (name == nullptr) {
      break;
    }
    if (value == nullptr || plist_get_node_type(value) != PLIST_STRING) {
      result = Field::wrongType;
    } else {
      out[name] = stringOf(value);
    }
    std::free(name);
  }
  std::free(iter);
  return result;
}

/// KeepAlive may be a boolean or a dictionary of conditions; conditions are not supported, so
/// a dictionary loads the job without keeping it alive.
Field readKeepAlive(plist_t dict, bool& out) {
  plist_t node = item(dict, "KeepAlive");
  if (node != nullptr && plist_get_node_type(node) == PLIST_DICT) {
    out = false;
    return Field::read;
  }
  return readBool(dict, "KeepAlive", out);
}

/// Reads every optional key; false when one of them has the wrong type.
bool readOptionalKeys(plist_t dict, JobConfig& config) {
  const Field fields[] = {
      readStringDict(dict, "EnvironmentVariables", config.environment),
      readString(dict, "WorkingDirectory", config.workingDirectory),
      readString(dict, "StandardOutPath", config.standardOutPath),
      readString(dict, "StandardErrorPath", config.standardErrorPath),
      readBool(dict, "RunAtLoad", config.runAtLoad),
      readKeepAlive(dict, config.keepAlive),
      readBool(dict, "AbandonProcessGroup", config.abandonProcessGroup),
      readSeconds(dict, "ExitTimeOut", config.exitTimeout),
  };
  for (Field field : fields) {
    if (field == Field::wrongType) {
      return false;
    }
  }
  return true;
}

/// Whether a label holds a control character, which would let it forge rows in `list`.
bool hasControlCharacter(const std::string& label) {
  return std::any_of(label.begin(), label.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

/// Reads Label, Program and ProgramArguments; false when the job cannot be run.
bool readIdentity(plist_t dict, JobConfig& config) {
  if (readString(dict, "Label", config.label) != Field::read || config.label.empty() ||
      hasControlCharacter(config.label)) {
    return false;
  }
  const Field program = readString(dict, "Program", config.program);
  const Field arguments = readStringArray(dict, "ProgramArguments", config.arguments);
  if (program == Field::wrongType || arguments == Field::wrongType) {
    return false;
  }
  if (program == Field::read && config.program.empty()) {
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

std::optional<JobConfig> parseJobConfig(std::string_view data) {
  if (data.empty() || data.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  // The parser recurses through nesting and copies shared objects: a crafted binary list would
  // exhaust the stack or the memory.
  if (!morvane::binaryPropertyListWithinLimits(data, {})) {
    return std::nullopt;
  }
  plist_t root = nullptr;
  plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &root);
  if (root == nullptr) {
    return std::nullopt;
  }
  const PlistPtr owner(root, &plist_free);
  JobConfig config;
  if (plist_get_node_type(root) != PLIST_DICT || !readIdentity(root, config) ||
      !readOptionalKeys(root, config)) {
    return std::nullopt;
  }
  return config;
}

int readWholeFile(const std::string& path, std::string& out) {
  // Only a regular file of sane size: a FIFO would block, a device would never end.
  auto bytes = morvane::readRegularFile(path);
  if (!bytes) {
    return bytes.error();
  }
  out = std::move(*bytes);
  return 0;
}

}  // namespace launchctl
