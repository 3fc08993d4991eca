#include "updater.h"

namespace morvane::Updater {

// Run as `update-install.sh <pid> <staged bundle> <install location> <swap tool>`, detached,
// with its output appended to update.log and the update lock inherited on descriptor 9, which
// it holds until it ends. Waits up to 60 s for the old instance to exit. The staged bundle is
// moved beside the installed one and the two change places in one step, so the install
// location always holds a whole bundle, whenever the script is stopped. The new version is
// kept once it has shown up within 20 s and run 10 s without a break; otherwise the bundles
// change places back and the old one is started again. The running check matches the
// executable's path literally: every pattern character of the location is escaped.
const std::string_view installerScript =
    "#!/bin/bash\n"
    "# Morvane 更新安装脚本（由 Morvane 生成并启动）。参数：旧进程 "
    "pid、新包路径、安装位置、交换工具。\n"
    "PID=\"$1\"; NEW=\"$2\"; APP=\"$3\"; SWAP=\"$4\"\n"
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
    "EXE=\"$(printf '%s' \"$APP/Contents/MacOS/Morvane\" | sed 's/[][\\\\.^$*+?(){}|]/\\\\&/g')\"\n"
    "running() { pgrep -f \"$EXE\" >/dev/null 2>&1; }\n"
    "\n"
    "rm -rf \"$BACKUP\"\n"
    "if [ ! -e \"$BACKUP\" ] && mv \"$NEW\" \"$BACKUP\" && \"$SWAP\" \"$BACKUP\" \"$APP\"; then\n"
    "    open \"$APP\"\n"
    "    tries=0; up=0\n"
    "    while [ \"$up\" -gt 0 ] || [ \"$tries\" -lt 40 ]; do\n"
    "        if running; then\n"
    "            up=$((up + 1))\n"
    "            if [ \"$up\" -ge 20 ]; then\n"
    "                rm -rf \"$BACKUP\"\n"
    "                echo \"updated\"\n"
    "                exit 0\n"
    "            fi\n"
    "        elif [ \"$up\" -gt 0 ]; then\n"
    "            break\n"
    "        fi\n"
    "        tries=$((tries + 1))\n"
    "        sleep 0.5\n"
    "    done\n"
    "    echo \"new version did not start, rolling back\"\n"
    "    \"$SWAP\" \"$BACKUP\" \"$APP\" && rm -rf \"$BACKUP\"\n"
    "else\n"
    "    echo \"could not swap bundles, restoring\"\n"
    "    rm -rf \"$BACKUP\"\n"
    "fi\n"
    "open \"$APP\"\n"
    "exit 1";

}  // namespace morvane::Updater
