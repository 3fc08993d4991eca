#pragma once

#include <expected>
#include <string>
#include <vector>

#include "shell.h"

namespace morvane::testing {

/// What `script`, run by /bin/sh with `arguments` as $1…, did in a mount namespace of its own
/// (`unshare --mount`), so that what it mounts is seen by it and its children only. The script
/// exits 99 when its mounts cannot be made. The unexpected value says why the namespace or its
/// mounts cannot be had here: without root, in a chroot (whose root folder is no mount point),
/// in most containers.
std::expected<ShellResult, std::string> runWithPrivateMounts(
    const std::string& script, const std::vector<std::string>& arguments, double timeout,
    const Shell::Environment& environment = {});

}  // namespace morvane::testing
