#include "job_config_codec.h"

#include <cstdint>
#include <cstring>

namespace launchctl {
namespace {

/// Appends fixed-width numbers and length-prefixed strings.
class Writer {
 public:
  void number(std::int64_t value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out_.append(bytes, sizeof bytes);
  }
  void text(const std::string& value) {
    number(static_cast<std::int64_t>(value.size()));
    out_ += value;
  }
  void optionalNumber(const std::optional<std::int64_t>& value) {
    number(value ? 1 : 0);
    number(value.value_or(0));
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

/// Reads what Writer wrote; every read fails once the bytes run out or do not fit.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  bool number(std::int64_t& value) {
    if (rest_.size() < sizeof value) {
      return false;
    }
    std::memcpy(&value, rest_.data(), sizeof value);
    rest_.remove_prefix(sizeof value);
    return true;
  }
  template <class Integer>
  bool number(Integer& value) {
    std::int64_t wide = 0;
    if (!number(wide) || static_cast<std::int64_t>(static_cast<Integer>(wide)) != wide) {
      return false;
    }
    value = static_cast<Integer>(wide);
    return true;
  }
  bool text(std::string& value) {
    std::int64_t size = 0;
    if (!number(size) || size < 0 || static_cast<std::uint64_t>(size) > rest_.size()) {
      return false;
    }
    value.assign(rest_.substr(0, static_cast<size_t>(size)));
    rest_.remove_prefix(static_cast<size_t>(size));
    return true;
  }
  template <class Integer>
  bool optionalNumber(std::optional<Integer>& value) {
    std::int64_t present = 0;
    Integer number = 0;
    if (!this->number(present) || !this->number(number) || (present != 0 && present != 1)) {
      return false;
    }
    value = present == 1 ? std::optional<Integer>(number) : std::nullopt;
    return true;
  }
  bool optionalFlag(std::optional<bool>& value) {
    std::optional<int> number;
    if (!optionalNumber(number) || (number && *number != 0 && *number != 1)) {
      return false;
    }
    value = number ? std::optional<bool>(*number == 1) : std::nullopt;
    return true;
  }
  bool atEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

std::optional<std::int64_t> widened(const std::optional<bool>& value) {
  return value ? std::optional<std::int64_t>(*value ? 1 : 0) : std::nullopt;
}

template <class Integer>
std::optional<std::int64_t> widened(const std::optional<Integer>& value) {
  return value ? std::optional<std::int64_t>(*value) : std::nullopt;
}

}  // namespace

std::string encodeJobConfig(const JobConfig& config) {
  Writer out;
  for (const std::string* text :
       {&config.label, &config.program, &config.workingDirectory, &config.standardInPath,
        &config.standardOutPath, &config.standardErrorPath}) {
    out.text(*text);
  }
  out.number(static_cast<std::int64_t>(config.arguments.size()));
  for (const std::string& argument : config.arguments) {
    out.text(argument);
  }
  out.number(static_cast<std::int64_t>(config.environment.size()));
  for (const auto& [name, value] : config.environment) {
    out.text(name);
    out.text(value);
  }
  out.number(config.runAtLoad);
  out.number(config.keepAlive.always);
  out.optionalNumber(widened(config.keepAlive.successfulExit));
  out.optionalNumber(widened(config.keepAlive.crashed));
  out.number(config.throttleInterval);
  out.number(config.startInterval);
  out.number(static_cast<std::int64_t>(config.calendar.size()));
  for (const CalendarEntry& entry : config.calendar) {
    for (const std::optional<int>* field :
         {&entry.minute, &entry.hour, &entry.day, &entry.weekday, &entry.month}) {
      out.optionalNumber(widened(*field));
    }
  }
  out.number(config.abandonProcessGroup);
  out.number(config.exitTimeout);
  out.optionalNumber(widened(config.nice));
  out.optionalNumber(widened(config.umask));
  return out.take();
}

std::optional<JobConfig> decodeJobConfig(std::string_view bytes) {
  Reader in(bytes);
  JobConfig config;
  for (std::string* text :
       {&config.label, &config.program, &config.workingDirectory, &config.standardInPath,
        &config.standardOutPath, &config.standardErrorPath}) {
    if (!in.text(*text)) {
      return std::nullopt;
    }
  }
  std::int64_t count = 0;
  if (!in.number(count) || count < 0) {
    return std::nullopt;
  }
  for (std::int64_t i = 0; i < count; ++i) {
    if (!in.text(config.arguments.emplace_back())) {
      return std::nullopt;
    }
  }
  if (!in.number(count) || count < 0) {
    return std::nullopt;
  }
  for (std::int64_t i = 0; i < count; ++i) {
    std::string name;
    std::string value;
    if (!in.text(name) || !in.text(value)) {
      return std::nullopt;
    }
    config.environment[std::move(name)] = std::move(value);
  }
  if (!in.number(config.runAtLoad) || !in.number(config.keepAlive.always) ||
      !in.optionalFlag(config.keepAlive.successfulExit) ||
      !in.optionalFlag(config.keepAlive.crashed) || !in.number(config.throttleInterval) ||
      !in.number(config.startInterval) || !in.number(count) || count < 0) {
    return std::nullopt;
  }
  for (std::int64_t i = 0; i < count; ++i) {
    CalendarEntry& entry = config.calendar.emplace_back();
    for (std::optional<int>* field :
         {&entry.minute, &entry.hour, &entry.day, &entry.weekday, &entry.month}) {
      if (!in.optionalNumber(*field)) {
        return std::nullopt;
      }
    }
  }
  if (!in.number(config.abandonProcessGroup) || !in.number(config.exitTimeout) ||
      !in.optionalNumber(config.nice) || !in.optionalNumber(config.umask) || !in.atEnd() ||
      config.arguments.empty()) {
    return std::nullopt;
  }
  return config;
}

}  // namespace launchctl
