// Exit codes of the unattended modes (/passive, /quiet), as installer engines give them,
// so that software-deployment tools read them. The interactive mode always ends with 0.
#pragma once

#include <cstdint>

inline constexpr int32_t kExitSuccess = 0;
inline constexpr int32_t kExitRestartRequired = 3010;
inline constexpr int32_t kExitCancelled = 1602;
inline constexpr int32_t kExitFailed = 1603;
inline constexpr int32_t kExitAlreadyRunning = 1618;
// Another installation is in progress (msiexec's own code): deployment tools retry later.
inline constexpr int32_t kExitInstallInProgress = 1618;
