// What the safe-file service says the same way on every system.
#include "platform/safefile.h"

namespace platform {

std::string FileRead::Reason(std::uintmax_t maxBytes) const
{
    switch (Outcome) {
    case TOutcome::Read: return {};
    case TOutcome::Missing: return "no such file";
    case TOutcome::TooLarge:
        return "larger than "
               + (maxBytes % 1024 == 0 ? std::to_string(maxBytes / 1024) + " KiB" : std::to_string(maxBytes) + " bytes");
    case TOutcome::NotRegular: return "not a regular file (a folder, device or pipe)";
    case TOutcome::DanglingLink: return "a symbolic link to a file that does not exist";
    case TOutcome::Denied: return "no permission to read it";
    case TOutcome::Failed: return "cannot be read: " + Error;
    case TOutcome::ForeignLink: return Error;
    case TOutcome::ForeignFile: return "a file of another user: not taken as ours";
    }
    return {};
}

} // namespace platform
