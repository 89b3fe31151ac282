// The automation error of a failed interface call, as the wrapper and the control raise it.
#pragma once

#include "platform/ole.h"

#include <exception>
#include <string>
#include <string_view>

namespace driver {

// The message for a failure status: description with trailing full stops, spaces and control
// characters removed; if that leaves nothing, the system's text for the status (trimmed alike);
// if there is none, "OLE error %.8x".
std::string OleErrorMessage(HRESULT status, std::u16string_view description);

// Raises runtime::EOleException for status, its text taken from the error info that the failing
// component attached to the call (GetErrorInfo, which also clears it).
[[noreturn]] void RaiseOleError(HRESULT status);

// A C++ exception that escaped a driver call (which COM forbids) counts as a failed call with
// this status and the exception's text (what(), or "Unknown exception"), the text the program
// shows for it: in the trace, the recording and a replay alike.
inline constexpr HRESULT EscapedExceptionStatus = E_UNEXPECTED;
std::string EscapedExceptionText(std::exception_ptr exception);

// Empties the calling thread's error-info slot, so that the next failure's error info can only
// come from the call that failed.
void ClearErrorInfo() noexcept;

} // namespace driver
