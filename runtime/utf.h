// UTF-8 (the program's text) <-> UTF-16 (the interface's text), and <-> the system's file names.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace runtime {

// Malformed sequences become U+FFFD; nothing fails.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// A file name in UTF-8 as the system's path and back (on Windows a path is UTF-16, and the narrow
// constructor would read the ANSI code page).
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

} // namespace runtime
