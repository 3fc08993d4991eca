#include "platform.h"
#include "updater.h"

namespace morvane::Updater {

// Run as `update-install.sh <pid> <staged bundle> <install location> <swap tool> <open tool>`,
// detached, with its output appended to update.log and the update's locks inherited on
// descriptors 9 and 8, which it holds until it ends. Waits up to 60 s for the old instance to
// exit. The staged bundle is moved beside the installed one and the two change places in one
// step, so the install location always holds a whole bundle, whenever the script is stopped.
// Which bundle is where is read from the disk (the installed folder's inode), never from the
// swap tool's status alone. The new version is started with the open tool, which reports the
// process it started; it is kept once that very process has run 10 s without a break, and
// otherwise the bundles change places back and the old one is started again. Tools are called
// by their absolute paths, never through PATH.
namespace {

constexpr std::string_view scriptStart =
    "#!/bin/bash\n"
    "# Morvane 更新安装脚本（由 Morvane 生成并启动）。参数：旧进程 "
    "pid、新包路径、安装位置、交换工具、启动工具。\n"
    "PID=\"$1\"; NEW=\"$2\"; APP=\"$3\"; SWAP=\"$4\"; OPEN=\"$5\"\n"
    "BACKUP=\"$APP.previous\"\n"
    "echo \"[$(date '+%F %T')] updating $APP from $NEW (waiting for pid $PID)\"\n"
    "\n"
    "for _ in $(seq 1 240); do\n"
    "    kill -0 \"$PID\" 2>/dev/null || break\n"
    "    sleep 0.25\n"
    "done\n"
    "if kill -0 \"$PID\" 2>/dev/null; then\n"
    "    echo \"old instance did not exit, giving up\"\n"
    "    exit 1\n"
    "fi\n"
    "\n"
    "inode() { ls -d -i -- \"$1\" 2>/dev/null | { read -r number _ && echo \"$number\"; }; }\n";

constexpr std::string_view scriptEnd =
    "OLD=\"$(inode \"$APP\")\"\n"
    "\n"
    "rm -rf \"$BACKUP\"\n"
    "[ -n \"$OLD\" ] && [ ! -e \"$BACKUP\" ] && mv \"$NEW\" \"$BACKUP\" && \"$SWAP\" \"$BACKUP\" "
    "\"$APP\"\n"
    "if [ -n \"$OLD\" ] && [ \"$(inode \"$BACKUP\")\" = \"$OLD\" ]; then\n"
    "    STARTED=\"$(\"$OPEN\" --pid \"$APP\")\"\n"
    "    SINCE=\"$(since \"$STARTED\")\"\n"
    "    up=0\n"
    "    while [ -n \"$SINCE\" ] && [ \"$(since \"$STARTED\")\" = \"$SINCE\" ]; do\n"
    "        up=$((up + 1))\n"
    "        if [ \"$up\" -ge 20 ]; then\n"
    "            rm -rf \"$BACKUP\"\n"
    "            echo \"updated\"\n"
    "            exit 0\n"
    "        fi\n"
    "        sleep 0.5\n"
    "    done\n"
    "    echo \"new version did not start, rolling back\"\n"
    "    \"$SWAP\" \"$BACKUP\" \"$APP\"\n"
    "else\n"
    "    echo \"could not swap bundles, restoring\"\n"
    "fi\n"
    "if [ -n \"$OLD\" ] && [ \"$(inode \"$BACKUP\")\" = \"$OLD\" ]; then\n"
    "    \"$OPEN\" \"$BACKUP\"\n"
    "else\n"
    "    rm -rf \"$BACKUP\"\n"
    "    \"$OPEN\" \"$APP\"\n"
    "fi\n"
    "exit 1";

}  // namespace

std::string installerScript() {
  return std::string(scriptStart) + std::string(platform::processStartShellFunction()) +
         std::string(scriptEnd);
}

}  // namespace morvane::Updater
