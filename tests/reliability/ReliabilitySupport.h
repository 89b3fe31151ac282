// What the reliability tests of both windows share: the driver operations each window's table
// drives (so that one test can check that together they cover the member table), how a driver
// operation fails, the bad texts for number fields and the odd texts a driver may hand over.
#pragma once

#include "FakeDriver.h"

#include "platform/status.h"

#include <string>
#include <vector>

namespace reliability {

// What the windows show for a failure status without error info: the system's text for it
// (Windows' own wording, in the system's language; under Wine, Wine's), as a message without its
// closing full stop.
inline std::string SystemText(HRESULT status)
{
    std::string text;
    if (!platform::StatusText(status, text))
        return {};
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text;
}

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
        return SystemText(E_FAIL); // "Unspecified error" on Windows and off it
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

// Texts that are not a number for a field that takes one, with the separator in use: empty,
// blanks, letters, the other decimal separator, overflow, 400 digits, a huge exponent, "NaN",
// an exponent without digits, 10 000 characters, and a few more shapes.
inline std::vector<std::string> BadNumberTexts(char separator, bool integer)
{
    const char other = separator == '.' ? ',' : '.';
    return {"",
            "   ",
            "abc",
            std::string("1") + other + "5",
            integer ? "2147483648" : "1e309",
            std::string(400, '9'),
            "1e99999999999999999999",
            "NaN",
            "1e",
            std::string(10'000, '7'),
            "INF",
            "0x1A",
            "--1",
            "1 2",
            "1" + std::string(1, separator) + "5" + std::string(1, separator) + "5"};
}

inline std::string NotANumberMessage(const std::string& text, bool integer)
{
    return "\"" + text + "\" не является " + (integer ? "целым числом" : "дробным числом");
}

// Texts a driver may hand over: empty, 100 000 characters, and UTF-16 with lone surrogates
// (a low one, a high one in the middle, a high one at the end).
struct TDriverText {
    const char* Name;
    std::u16string Text;
    // What the window shows (UTF-8): lone surrogates as U+FFFD.
    std::string Shown;
};

inline std::vector<TDriverText> OddDriverTexts()
{
    return {
        {"empty", u"", ""},
        {"100 000 characters", std::u16string(100'000, u'Ж'), [] {
             std::string s;
             for (int i = 0; i < 100'000; ++i)
                 s += "Ж";
             return s;
         }()},
        {"lone surrogates", std::u16string(u"A") + char16_t(0xDC00) + u"B" + char16_t(0xD800) + u"C" + char16_t(0xDBFF),
         "A\xEF\xBF\xBD" "B\xEF\xBF\xBD" "C\xEF\xBF\xBD"},
    };
}

} // namespace reliability
