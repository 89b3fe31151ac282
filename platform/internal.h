// Pieces shared between the platform's own source files; not part of its interface.
#pragma once

#include "platform/platform.h"

#include <string_view>

namespace platform::detail {

// True when the calling thread has initialised COM (either model) and not yet uninitialised it.
bool ThreadComInitialised();

// A class registration's texts can be stored: a module path is given, and no text has a line
// break or NUL that would split or cut its entry.
bool RegistrableEntry(std::string_view modulePath, std::string_view threadingModel, std::string_view description);

// The English text of a common status from the platform's own table; false for others.
bool CommonStatusText(HRESULT status, std::string& text);

// A resource of the program file itself, by type and name, or by id when name is null; false
// when absent or when the system keeps no resources in program files.
bool FindFileResource(int type, int id, const char* name, ResourceData& out);

} // namespace platform::detail
