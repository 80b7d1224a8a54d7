// Paths for the wide (W) functions. The programs hold paths in their code
// page, UTF-8 by their manifest; the ANSI functions take them too, but Wine
// and Windows before long paths stop those at MAX_PATH, while the wide ones
// go as far as the system allows.
#pragma once

#include <string>

namespace platform {

std::wstring wide_path(const std::string& path);

}  // namespace platform
