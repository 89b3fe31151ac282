// Pieces shared between the platform's own source files; not part of its interface.
#pragma once

#include "platform/resources.h"

#include <string>
#include <string_view>

namespace platform::detail {

// True when the calling thread has initialised COM (either model) and not yet uninitialised it.
bool ThreadComInitialised();

// Why a class registration's texts cannot be stored (no module path, or a text with a line break or
// NUL that would split or cut its entry); empty when they can.
std::string UnregistrableEntry(std::string_view modulePath, std::string_view threadingModel,
                               std::string_view description);
// Why the text cannot be a ProgID (empty, longer than 39 characters, a character other than an
// ASCII letter, digit or period, or a leading digit); empty when it can.
std::string InvalidProgId(std::string_view progId);
// Sets what ClassRegistryError tells the calling thread; every registry call sets it, empty on success.
void SetRegistryError(std::string why);
// The calling thread's copy of that text (the system's per-thread storage; one file per system).
std::string& ThreadRegistryError();

// The module registered for the class in the registry view of the other bitness (Windows); off
// Windows, with no views, the registered module. S_OK with its path, REGDB_E_CLASSNOTREG when none.
HRESULT LookupOtherViewInprocServer(REFCLSID clsid, std::string& modulePath);
// The module registered for the class, in this program's registry view or else in the other, and
// its bitness from its header (0: none registered, unreadable, or no Windows module).
int RegisteredServerBitness(REFCLSID clsid, std::string& modulePath);
// Up to maxBytes from the start of the file at path when it is a regular file; false when it is
// none (a FIFO, a device or a folder is never read) or cannot be read.
bool ReadFileHead(const std::string& path, std::size_t maxBytes, std::string& head);

// The English text of a common status from the platform's own table; false for others.
bool CommonStatusText(HRESULT status, std::string& text);

// A resource of the program file itself, by type and name, or by id when name is null; false
// when absent or when the system keeps no resources in program files.
bool FindFileResource(int type, int id, const char* name, ResourceData& out);

// Off Windows: opens path, creating it with mode when missing, with flags (O_CLOEXEC and
// O_NOFOLLOW added) after walking every part of it without another user's link, as the safe-file
// service does. The descriptor of a regular file of ours, or -1 with why set.
int OpenWalked(const std::string& path, int flags, unsigned mode, std::string& why);

} // namespace platform::detail
