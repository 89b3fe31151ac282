// The user's own configuration folder.
#pragma once

#include "platform/ole.h"

#include <string>

namespace platform {

// The user's own configuration folder, absolute: off Windows $XDG_CONFIG_HOME, else $HOME/.config
// (HOME, else the user database's home folder); on Windows %APPDATA%. Relative values are invalid
// and ignored. Empty, with the reason in problem, when there is none: the caller then refuses
// rather than write under the current folder. The class registry and the substitute driver's
// settings file both live here.
PLATFORM_API std::string UserConfigFolder(std::string* problem = nullptr);

} // namespace platform
