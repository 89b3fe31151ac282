// Pieces shared between the platform's Windows source files; not part of its interface.
#pragma once

#include "platform/internal.h"

#include <string>
#include <string_view>

namespace platform::detail {

// UTF-8 <-> the system's UTF-16. Invalid input is converted with replacement characters.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

// The system's message for a Win32 error code (FormatMessageW), UTF-8, without the trailing line
// end; empty when the system has none.
std::string SystemMessage(DWORD code);

} // namespace platform::detail
