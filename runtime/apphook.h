// The application-wide exception hook: where an exception that must not travel further (out of
// an event handler, or out of a driver's event into the driver) is handed. The GUI's application
// object installs it; until then exceptions handed here are swallowed.
#pragma once

#include <exception>
#include <functional>

namespace runtime {

using TExceptionHook = std::function<void(std::exception_ptr)>;

// Installs hook (an empty function uninstalls); returns the previous one.
TExceptionHook SetApplicationExceptionHook(TExceptionHook hook);
// Hands the exception to the installed hook; never throws.
void HandleApplicationException(std::exception_ptr e) noexcept;

} // namespace runtime
