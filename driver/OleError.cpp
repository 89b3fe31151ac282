#include "driver/OleError.h"

#include "platform/bstr.h"
#include "platform/comptr.h"
#include "platform/status.h"
#include "runtime/exceptions.h"
#include "runtime/utf.h"

#include <cstdio>

namespace driver {

namespace {

std::string TrimTrailing(std::string text)
{
    while (!text.empty()) {
        unsigned char c = static_cast<unsigned char>(text.back());
        if (c != '.' && c != ' ' && c >= 0x20 && c != 0x7F)
            break;
        text.pop_back();
    }
    return text;
}

} // namespace

std::string OleErrorMessage(HRESULT status, std::u16string_view description)
{
    std::string message = TrimTrailing(runtime::Utf16ToUtf8(description));
    if (!message.empty())
        return message;
    std::string system;
    if (platform::StatusText(status, system)) {
        message = TrimTrailing(std::move(system));
        if (!message.empty())
            return message;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "OLE error %.8x", static_cast<unsigned>(status));
    return buffer;
}

void RaiseOleError(HRESULT status)
{
    std::u16string description;
    platform::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Out()) == S_OK && info) {
        platform::BStr text;
        if (SUCCEEDED(info->GetDescription(text.Out())))
            description = text.Text();
    }
    throw runtime::EOleException(OleErrorMessage(status, description), status);
}

std::string EscapedExceptionText(std::exception_ptr exception)
{
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

void ClearErrorInfo() noexcept { SetErrorInfo(0, nullptr); }

} // namespace driver
