// SPDX-License-Identifier: GPL-3.0-or-later
// The order in which file names are listed to the user.
#pragma once

#include <string>

namespace platform {

// By name, ignoring letter case ("Gold" between "default noise" and "silver"); names that differ
// only in case keep byte order, so the order is total and stable.
bool FileNameLess(const std::string& a, const std::string& b);

} // namespace platform
