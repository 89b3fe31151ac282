// UTF-8 (the program's text) <-> UTF-16 (the interface's text).
#pragma once

#include <string>
#include <string_view>

namespace runtime {

// Malformed sequences become U+FFFD; nothing fails.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

} // namespace runtime
