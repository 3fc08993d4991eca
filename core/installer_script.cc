#include "updater.h"

namespace morvane::Updater {

// Run as `update-install.sh <pid> <staged bundle> <install location>`, detached, with its output
// appended to update.log. Waits up to 60 s for the old instance to exit, swaps the bundles,
// starts the new one and keeps it only when it is seen running within 20 s; otherwise the old
// bundle is put back and started again.
const std::string_view installerScript =
    "#!/bin/bash\n"
    "# Morvane 更新安装脚本（由 Morvane 生成并启动）。参数：旧进程 pid、新包路径、安装位置。\n"
    "PID=\"$1\"; NEW=\"$2\"; APP=\"$3\"\n"
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
    "running() { pgrep -f \"$APP/Contents/MacOS/Morvane\" >/dev/null 2>&1; }\n"
    "\n"
    "rm -rf \"$BACKUP\"\n"
    "if mv \"$APP\" \"$BACKUP\" && mv \"$NEW\" \"$APP\"; then\n"
    "    open \"$APP\"\n"
    "    for _ in $(seq 1 40); do\n"
    "        if running; then\n"
    "            rm -rf \"$BACKUP\"\n"
    "            echo \"updated\"\n"
    "            exit 0\n"
    "        fi\n"
    "        sleep 0.5\n"
    "    done\n"
    "    echo \"new version did not start, rolling back\"\n"
    "    rm -rf \"$APP\"\n"
    "    mv \"$BACKUP\" \"$APP\"\n"
    "else\n"
    "    echo \"could not swap bundles, restoring\"\n"
    "    [ -d \"$APP\" ] || mv \"$BACKUP\" \"$APP\"\n"
    "fi\n"
    "open \"$APP\"\n"
    "exit 1";

}  // namespace morvane::Updater
