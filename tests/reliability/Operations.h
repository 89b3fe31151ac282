// The driver operations each window's reliability table drives, so that one test can check that
// together they cover the member table.
#pragma once

#include "FakeDriver.h"

#include <string>
#include <vector>

namespace reliability {

struct TOperationName {
    std::string Member;
    fakedriver::TCallKind Kind;
};

std::vector<TOperationName> MainWindowOperations();
std::vector<TOperationName> EditorOperations();

// How a driver operation fails in a table case.
enum class TFailure {
    StatusWithErrorInfo,    // a failure status, the description attached as error info
    StatusWithoutErrorInfo, // a failure status and no error info: the system's text for it
    RefusedWithResultCode,  // the call succeeds, ResultCode and ResultDescription say no
};

inline const char* FailureName(TFailure failure)
{
    switch (failure) {
    case TFailure::StatusWithErrorInfo: return "status with error info";
    case TFailure::StatusWithoutErrorInfo: return "status without error info";
    case TFailure::RefusedWithResultCode: return "refused with a result code";
    }
    return "";
}

// Scripts the next call of member to fail so; returns the message the window must show.
inline std::string ScriptFailure(const std::string& member, TFailure failure)
{
    switch (failure) {
    case TFailure::StatusWithErrorInfo: {
        const std::string text = "Сбой драйвера: " + member;
        fakedriver::ScriptFailure(member, E_FAIL, text, /*once=*/true);
        return text;
    }
    case TFailure::StatusWithoutErrorInfo:
        fakedriver::ScriptFailure(member, E_FAIL, std::nullopt, /*once=*/true);
        return "Unspecified error";
    case TFailure::RefusedWithResultCode: {
        const std::string text = "Отказ: " + member;
        fakedriver::RefuseWrites(member);
        fakedriver::ScriptResult(member, 7, text);
        return text;
    }
    }
    return {};
}

// Whether the log holds a call of member of that kind.
inline bool Called(const std::string& member, fakedriver::TCallKind kind)
{
    for (const auto& call : fakedriver::Calls())
        if (call.Member == member && call.Kind == kind)
            return true;
    return false;
}

} // namespace reliability
