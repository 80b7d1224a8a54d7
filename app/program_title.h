// The caption of every message box the program shows, so that a box can
// always be told apart from another program's.
#pragma once

namespace app {

inline constexpr const char* program_title = "Zelvorant - v. 0.9 - beta, free to use, no warranty";

}  // namespace app
