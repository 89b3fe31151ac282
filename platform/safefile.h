// Files from outside: bounded reads, atomic replacement, new files written line by line.
#pragma once

#include "platform/ole.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Every file the program reads or writes may have been put there by someone else: only a regular
// file is read, with a size bound, and what is not one is never opened in a way that could block
// (a FIFO) or act (a device); files of the kernel's pseudo file systems (/proc, /sys) are not
// regular files here. A write walks its path one part at a time and follows no symbolic link of
// another user anywhere in it (off Windows a link on the way to a folder may also be root's; the
// last part's link must be our own), and never takes a file another user owns as its own. Reasons
// are the system's own words; the caller says them with the file's name in its own language.
struct PLATFORM_API FileRead {
    enum class TOutcome { Read, Missing, TooLarge, NotRegular, DanglingLink, Denied, Failed, ForeignLink, ForeignFile };
    TOutcome Outcome = TOutcome::Missing;
    std::string Text;  // Read: the whole file
    std::string Error; // Failed: the system's reason; ForeignLink: the link, and that it is not followed
    // The outcome in English ("not a regular file", "larger than 1024 KiB", ...); empty when read.
    std::string Reason(std::uintmax_t maxBytes) const;
};

// Reads the regular file at path (a symbolic link to one is followed) of at most maxBytes.
PLATFORM_API FileRead ReadFileBounded(const std::string& path, std::uintmax_t maxBytes);
// The same, for a file the program takes as its own (its settings, the class registry): its path
// is walked as a write's is (ForeignLink: another user's link on it), and a file of another user
// is not read (ForeignFile).
PLATFORM_API FileRead ReadOwnFileBounded(const std::string& path, std::uintmax_t maxBytes);

// Replaces the file at path with text, atomically: written beside it, flushed and renamed over it,
// so that a reader sees the old or the new file whole. An existing file's mode and a symbolic link
// to it are kept: the file the link names is replaced. Refuses what is not a regular file, a link
// of another user and a file of another user. A temporary of an earlier replacement of the same
// file that was killed before its rename (ours, untouched for ten minutes) is removed. Empty on
// success, else the reason (without the file's name). A write past the file size limit fails, and
// its temporary goes.
PLATFORM_API std::string ReplaceFileAtomically(const std::string& path, std::string_view text);

// A file written line by line from its start: a new file, or an existing empty regular file of
// ours (a non-empty one is never appended to). The writer holds an exclusive lock on it while it is
// open, so a second writer of the same file is refused. Each write goes to the system at once.
class PLATFORM_API NewFileWriter {
public:
    NewFileWriter() = default;
    ~NewFileWriter();
    NewFileWriter(const NewFileWriter&) = delete;
    NewFileWriter& operator=(const NewFileWriter&) = delete;
    // Empty when the file is open, else the reason.
    std::string Open(const std::string& path);
    // Writes all of text; false with the system's reason when it could not.
    bool Write(std::string_view text, std::string& why);
    bool IsOpen() const { return FHandle != -1; }

private:
    std::intptr_t FHandle = -1; // a descriptor, or a HANDLE's value
    bool FHeld = false;
};

} // namespace platform
