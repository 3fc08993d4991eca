#include "run_text.h"

#include <cstdio>

#include "language.h"
#include "signal_names.h"

namespace morvane::RunText {
namespace {

constexpr int64_t kMicros = 1'000'000;

/// A number of whole units and the next smaller unit: "3 min 5 s", "3 分 5 秒".
std::string twoUnits(int64_t big, const char* bigEn, const char* bigZh, int64_t small,
                     const char* smallEn, const char* smallZh) {
  const std::string a = std::to_string(big);
  const std::string b = std::to_string(small);
  return L([&] { return a + " " + bigZh + " " + b + " " + smallZh; },
           [&] { return a + " " + bigEn + " " + b + " " + smallEn; });
}

}  // namespace

std::string started(const Run& run) {
  if (!run.started)
    return "-";
  const std::time_t moment = static_cast<std::time_t>(*run.started / kMicros);
  std::tm local{};
  localtime_r(&moment, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string duration(const Run& run, int64_t now) {
  if (!run.started)
    return "-";
  const int64_t micros = std::max<int64_t>((run.ended ? *run.ended : now) - *run.started, 0);
  if (micros < 10 * kMicros) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(micros) / kMicros);
    const std::string number = text;
    return L([&] { return number + " 秒"; }, [&] { return number + " s"; });
  }
  const int64_t seconds = micros / kMicros;
  if (seconds < 60) {
    const std::string number = std::to_string(seconds);
    return L([&] { return number + " 秒"; }, [&] { return number + " s"; });
  }
  if (seconds < 3600)
    return twoUnits(seconds / 60, "min", "分", seconds % 60, "s", "秒");
  if (seconds < 86400)
    return twoUnits(seconds / 3600, "h", "小时", seconds % 3600 / 60, "min", "分");
  return twoUnits(seconds / 86400, "d", "天", seconds % 86400 / 3600, "h", "小时");
}

std::string result(const Run& run) {
  if (!run.status)
    return L("运行中", "running");
  const int64_t status = *run.status;
  std::string text;
  if (status >= 0) {
    const std::string code = std::to_string(status);
    text = L([&] { return "退出码 " + code; }, [&] { return "exited " + code; });
  } else {
    const std::string number = std::to_string(-status);
    const std::optional<std::string> name = signalName(-status);
    text = L([&] { return name ? "被 " + *name + " 终止" : "被信号 " + number + " 终止"; },
             [&] { return "killed by " + name.value_or("signal " + number); });
  }
  if (run.unloaded)
    text += L("，卸载时", ", at unload");
  return text;
}

std::string cause(const Run& run) {
  switch (run.cause) {
    case RunCause::load:
      return L("加载时启动", "at load");
    case RunCause::keepAlive:
      return L("保持运行重启", "keep-alive restart");
    case RunCause::interval:
      return L("定时间隔", "interval");
    case RunCause::calendar:
      return L("日历计划", "calendar");
    case RunCause::unknown:
      break;
  }
  return "";
}

std::string line(const Run& run, int64_t now) {
  std::string text = started(run) + "  " + duration(run, now) + "  " + result(run);
  if (const std::string why = cause(run); !why.empty())
    text += L([&] { return "（" + why + "）"; }, [&] { return " (" + why + ")"; });
  return text;
}

std::string heading() {
  return L("最近运行", "Recent runs");
}

std::string none() {
  return L("尚无运行记录", "no runs yet");
}

std::string loading() {
  return L("正在读取…", "Loading…");
}

}  // namespace morvane::RunText
