#include "driver/Recording.h"

#include "platform/hex.h"
#include "platform/safefile.h"


#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace driver {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// Texts from a driver may hold what is not UTF-8; such bytes become U+FFFD rather than failing.
std::string Dump(const OrderedJson& object)
{
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

OrderedJson ValueJson(const TCallValue& value)
{
    struct TToJson {
        OrderedJson operator()(std::monostate) const { return nullptr; }
        OrderedJson operator()(std::int32_t v) const { return v; }
        OrderedJson operator()(TTraceFlag v) const { return v.Raw; }
        OrderedJson operator()(double v) const
        {
            if (std::isnan(v))
                return "nan";
            if (std::isinf(v))
                return v > 0 ? "inf" : "-inf";
            return v;
        }
        OrderedJson operator()(TTraceMoney v) const { return FormatTraceMoney(v.Raw); }
        OrderedJson operator()(const std::string& v) const { return v; }
    };
    return std::visit(TToJson{}, value);
}

// ---------------------------------------------------------------- reading

const char* TypeWord(VARTYPE type)
{
    switch (type) {
    case VT_I4: return "an integer from -2147483648 to 2147483647";
    case VT_BOOL: return "a flag (true, false or an integer from -32768 to 32767)";
    case VT_R8: return "a real";
    case VT_CY: return "money";
    case VT_BSTR: return "a text";
    default: return "a value";
    }
}

// What was found instead of what a key takes: a number as written (an integer out of range is
// still an integer), anything else by its kind.
std::string JsonWord(const Json& value)
{
    if (value.is_number())
        return value.dump();
    if (value.is_string())
        return "a text";
    if (value.is_boolean())
        return "true/false";
    if (value.is_null())
        return "null";
    return std::string("an ") + value.type_name();
}

[[noreturn]] void WrongType(int line, const char* member, VARTYPE type, const Json& value)
{
    throw ERecordingError(line, std::string(member) + " takes " + TypeWord(type) + ", not " + JsonWord(value));
}

bool IntegerIn(const Json& value, std::int64_t low, std::int64_t high, std::int64_t& out)
{
    if (!value.is_number_integer())
        return false;
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(high))
            return false;
        out = static_cast<std::int64_t>(u);
        return true;
    }
    out = value.get<std::int64_t>();
    return out >= low && out <= high;
}

// "-12.3400": a sign, digits, at most four decimals; exactly, no binary rounding.
bool ParseMoneyText(const std::string& text, std::int64_t& raw)
{
    std::size_t i = 0;
    const bool negative = i < text.size() && text[i] == '-';
    if (negative)
        ++i;
    std::uint64_t units = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (units > (std::numeric_limits<std::uint64_t>::max() - 9) / 10)
            return false;
        units = units * 10 + static_cast<unsigned>(text[i] - '0');
    }
    std::uint64_t fraction = 0;
    std::size_t decimals = 0;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++decimals)
            fraction = fraction * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (i != text.size() || digits == 0 || decimals > 4)
        return false;
    for (; decimals < 4; ++decimals)
        fraction *= 10;
    const std::uint64_t limit = negative ? std::uint64_t(1) << 63 : (std::uint64_t(1) << 63) - 1;
    if (units > (limit - fraction) / 10000)
        return false;
    const std::uint64_t magnitude = units * 10000 + fraction;
    raw = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

TCallValue ParseValue(int line, const TrutinaMemberInfo& member, TCallDirection direction, const Json& value)
{
    // A method's value is its LONG result.
    const VARTYPE type = direction == TCallDirection::Call ? VARTYPE(VT_I4) : member.Type;
    std::int64_t n = 0;
    switch (type) {
    case VT_I4:
        if (!IntegerIn(value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), n))
            WrongType(line, member.Name, type, value);
        return std::int32_t(n);
    case VT_BOOL:
        if (value.is_boolean())
            return TTraceFlag{value.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE};
        if (!IntegerIn(value, std::numeric_limits<VARIANT_BOOL>::min(), std::numeric_limits<VARIANT_BOOL>::max(), n))
            WrongType(line, member.Name, type, value);
        return TTraceFlag{static_cast<VARIANT_BOOL>(n)};
    case VT_R8:
        if (value.is_number())
            return value.get<double>();
        if (value.is_string()) {
            const std::string text = value.get<std::string>();
            if (text == "nan")
                return std::numeric_limits<double>::quiet_NaN();
            if (text == "inf" || text == "-inf")
                return text == "inf" ? std::numeric_limits<double>::infinity()
                                     : -std::numeric_limits<double>::infinity();
        }
        WrongType(line, member.Name, type, value);
    case VT_CY:
        if (value.is_string()) {
            std::int64_t raw = 0;
            if (!ParseMoneyText(value.get<std::string>(), raw))
                throw ERecordingError(line, std::string(member.Name) + " takes money as \"12.3400\" (at most four decimals), not \""
                                                + value.get<std::string>() + "\"");
            return TTraceMoney{raw};
        }
        if (value.is_number()) {
            const double scaled = std::round(value.get<double>() * 10000);
            if (!(std::fabs(scaled) < 9.2e18))
                throw ERecordingError(line, std::string(member.Name) + ": money out of range");
            return TTraceMoney{static_cast<std::int64_t>(scaled)};
        }
        WrongType(line, member.Name, type, value);
    case VT_BSTR:
        if (!value.is_string())
            WrongType(line, member.Name, type, value);
        return value.get<std::string>();
    default:
        throw ERecordingError(line, std::string(member.Name) + " has a type this recording cannot hold");
    }
}

HRESULT ParseStatus(int line, const Json& value)
{
    std::int64_t n = 0;
    if (IntegerIn(value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::uint32_t>::max(), n))
        return static_cast<HRESULT>(static_cast<std::uint32_t>(n));
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (text.size() > 2 && text.size() <= 10 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            std::uint32_t status = 0;
            bool hex = true;
            for (std::size_t i = 2; i < text.size() && hex; ++i) {
                const int digit = platform::HexDigitValue(static_cast<unsigned char>(text[i]));
                hex = digit >= 0;
                status = status * 16 + static_cast<std::uint32_t>(digit);
            }
            if (hex)
                return static_cast<HRESULT>(status);
        }
    }
    throw ERecordingError(line, "status must be a status in hex (\"0x80020009\") or an integer from -2147483648 to "
                                "4294967295, not " + JsonWord(value));
}

const TrutinaMemberInfo* FindMember(const std::string& name)
{
    for (const TrutinaMemberInfo& member : TrutinaMembers)
        if (name == member.Name)
            return &member;
    return nullptr;
}

std::string RequireString(int line, const Json& object, const char* key, bool required)
{
    const auto it = object.find(key);
    if (it == object.end()) {
        if (required)
            throw ERecordingError(line, std::string("\"") + key + "\" is missing");
        return {};
    }
    if (!it->is_string())
        throw ERecordingError(line, std::string("\"") + key + "\" must be a text, not " + JsonWord(*it));
    return it->get<std::string>();
}

void AllowOnly(int line, const Json& object, std::initializer_list<const char*> keys)
{
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* key : keys)
            known = known || item.key() == key;
        if (!known)
            throw ERecordingError(line, "unknown key \"" + item.key() + "\"");
    }
}

TRecordingHeader ParseHeader(int line, const Json& object)
{
    const auto format = object.find("format");
    if (format == object.end() || !format->is_string() || format->get<std::string>() != RecordingFormat)
        throw ERecordingError(line, std::string("not a recording: the first line must name the format \"")
                                        + RecordingFormat + "\"");
    const auto version = object.find("version");
    if (version == object.end() || !version->is_number_integer())
        throw ERecordingError(line, "the format's version is missing");
    if (version->get<std::int64_t>() != RecordingVersion)
        throw ERecordingError(line, "format version " + version->dump() + " is unknown (this program reads version "
                                        + std::to_string(RecordingVersion) + ")");
    AllowOnly(line, object, {"format", "version", "clsid", "module", "driverVersion", "marksEnd"});
    TRecordingHeader header;
    if (const auto marks = object.find("marksEnd"); marks != object.end()) {
        if (!marks->is_boolean())
            throw ERecordingError(line, "\"marksEnd\" must be true or false");
        header.MarksEnd = marks->get<bool>();
    }
    header.ClassId = RequireString(line, object, "clsid", true);
    header.Module = RequireString(line, object, "module", false);
    header.DriverVersion = RequireString(line, object, "driverVersion", false);
    return header;
}

TRecordedStep ParseStep(int line, const Json& object)
{
    TRecordedStep step;
    step.Line = line;
    int kinds = 0;
    for (const char* key : {"action", "event", "get", "put", "call", "format"})
        kinds += object.contains(key) ? 1 : 0;
    if (object.contains("format"))
        throw ERecordingError(line, "a second recording starts here; replay one sitting per file");
    if (kinds != 1)
        throw ERecordingError(line, "a line must have exactly one of \"action\", \"get\", \"put\", \"call\", \"event\"");

    if (object.contains("action")) {
        AllowOnly(line, object, {"action", "caption", "ms"});
        step.Kind = TStepKind::Action;
        step.Handler = RequireString(line, object, "action", true);
        step.Caption = RequireString(line, object, "caption", false);
        if (const auto ms = object.find("ms"); ms != object.end()) {
            std::int64_t at = 0;
            if (!IntegerIn(*ms, 0, std::numeric_limits<std::int64_t>::max(), at))
                throw ERecordingError(line, "\"ms\" must be a whole number of milliseconds from 0 to "
                                                + std::to_string(MaxActionMs) + ", not " + JsonWord(*ms));
            if (at > MaxActionMs) // a replay would wait that long before the action
                throw ERecordingError(line, "\"ms\" is " + std::to_string(at) + ", more than a day ("
                                                + std::to_string(MaxActionMs) + " ms)");
            step.AtMs = at;
        }
        return step;
    }
    if (object.contains("event")) {
        AllowOnly(line, object, {"event", "notice", "expect"});
        if (RequireString(line, object, "event", true) != "DataEvent")
            throw ERecordingError(line, "unknown event \"" + object["event"].get<std::string>() + "\"");
        step.Kind = TStepKind::Event;
        if (const std::string expect = RequireString(line, object, "expect", false); !expect.empty()) {
            if (expect != "own-thread")
                throw ERecordingError(line, "unknown expectation \"" + expect + "\" of an event");
            step.Expect = TExpectation::OwnThread;
        }
        return step;
    }

    step.Kind = TStepKind::Call;
    const char* key = object.contains("get") ? "get" : object.contains("put") ? "put" : "call";
    step.Direction = key[0] == 'g' ? TCallDirection::Read : key[0] == 'p' ? TCallDirection::Write : TCallDirection::Call;
    AllowOnly(line, object, {key, "value", "status", "error", "crashed", "exited", "expect", "through"});
    const std::string name = RequireString(line, object, key, true);
    step.Member = FindMember(name);
    if (!step.Member)
        throw ERecordingError(line, "unknown member \"" + name + "\"");
    const bool method = step.Member->Kind == TrutinaMemberKind::Method;
    if (method != (step.Direction == TCallDirection::Call))
        throw ERecordingError(line, name + (method ? " is a method: \"call\" it" : " is a property, not a method"));
    if (step.Direction == TCallDirection::Write && step.Member->Kind != TrutinaMemberKind::ReadWrite)
        throw ERecordingError(line, name + " is read-only");

    const auto value = object.find("value");
    const auto status = object.find("status");
    if (status != object.end())
        step.Status = ParseStatus(line, *status);
    step.StatusText = RequireString(line, object, "error", false);
    if (value != object.end())
        step.Value = ParseValue(line, *step.Member, step.Direction, *value);
    step.Crashed = RequireString(line, object, "crashed", false);
    step.Exited = RequireString(line, object, "exited", false);
    if (const std::string expect = RequireString(line, object, "expect", false); !expect.empty()) {
        static const std::pair<const char*, TExpectation> words[] = {{"returned", TExpectation::Returned},
                                                                     {"kept", TExpectation::Kept},
                                                                     {"same", TExpectation::Same},
                                                                     {"described", TExpectation::Described},
                                                                     {"agrees", TExpectation::Agrees},
                                                                     {"added", TExpectation::Added},
                                                                     {"deleted", TExpectation::Deleted}};
        for (const auto& [word, expectation] : words)
            if (expect == word)
                step.Expect = expectation;
        if (step.Expect == TExpectation::Recorded)
            throw ERecordingError(line, "unknown expectation \"" + expect + "\"");
        if (step.Expect != TExpectation::Returned && step.Direction != TCallDirection::Read)
            throw ERecordingError(line, "\"" + expect + "\" is expected of a read");
        if ((step.Direction != TCallDirection::Write && value != object.end()) || status != object.end())
            throw ERecordingError(line, "an expectation stands instead of a value and a status");
        step.Checked = true;
    }
    if (const std::string through = RequireString(line, object, "through", false); !through.empty()) {
        if (through != "Invoke" || step.Direction != TCallDirection::Read)
            throw ERecordingError(line, "only a read is made \"through\" \"Invoke\"");
        step.ThroughInvoke = true;
    }
    if (!step.Crashed.empty() || !step.Exited.empty())
        return step; // it never returned: nothing to compare
    if (step.Direction == TCallDirection::Write) {
        if (value == object.end())
            throw ERecordingError(line, "a write needs its argument in \"value\"");
        step.Checked = step.Checked || status != object.end();
    } else {
        if (value != object.end() && FAILED(step.Status))
            throw ERecordingError(line, "a failed " + std::string(key) + " has no value");
        step.Checked = step.Checked || value != object.end() || status != object.end();
    }
    return step;
}

} // namespace

// ---------------------------------------------------------------- writing

std::string RecordingHeaderLine(const TRecordingHeader& header)
{
    OrderedJson line;
    line["format"] = RecordingFormat;
    line["version"] = RecordingVersion;
    line["clsid"] = header.ClassId;
    line["module"] = header.Module;
    line["driverVersion"] = header.DriverVersion;
    if (header.MarksEnd)
        line["marksEnd"] = true;
    return Dump(line);
}

std::string RecordingEndLine() { return R"({"end":"normal"})"; }

std::string RecordingCallLine(const TDriverCall& call)
{
    OrderedJson line;
    line[TraceDirectionWord(call.Direction)] = call.Member;
    if (call.Direction == TCallDirection::Event) {
        if (!call.Notice.empty())
            line["notice"] = call.Notice;
        return Dump(line);
    }
    if (!std::holds_alternative<std::monostate>(call.Value))
        line["value"] = ValueJson(call.Value);
    // A write always states its status, so that its replay is checked; a read or method states it
    // only when it failed (its value says it succeeded).
    if (call.Failed() || call.Direction == TCallDirection::Write)
        line["status"] = FormatTraceStatus(call.Status);
    if (call.Failed())
        line["error"] = call.StatusText;
    return Dump(line);
}

std::string RecordingDriveLine(const char* member, TCallDirection direction, const TCallValue& argument)
{
    OrderedJson line;
    line[TraceDirectionWord(direction)] = member;
    if (direction == TCallDirection::Write)
        line["value"] = ValueJson(argument);
    return Dump(line);
}

std::string RecordingExpectLine(const char* member, TCallDirection direction, const TCallValue& argument,
                                TExpectation expectation, bool throughInvoke)
{
    OrderedJson line;
    line[TraceDirectionWord(direction)] = member;
    if (direction == TCallDirection::Write)
        line["value"] = ValueJson(argument);
    if (throughInvoke)
        line["through"] = "Invoke";
    static const char* const words[] = {"",       "returned", "kept",    "same",      "described",
                                        "agrees", "added",    "deleted", "own-thread"};
    line["expect"] = words[static_cast<int>(expectation)];
    return Dump(line);
}

std::string RecordingValueText(const TCallValue& value) { return Dump(ValueJson(value)); }

std::string RecordingActionLine(std::string_view handler, std::string_view caption, long long elapsedMs)
{
    OrderedJson line;
    line["action"] = std::string(handler);
    line["caption"] = std::string(caption);
    if (elapsedMs >= 0)
        line["ms"] = elapsedMs;
    return Dump(line);
}

TRecorder::TRecorder(const std::string& path) : FPath(path)
{
    if (const std::string why = FFile.Open(path); !why.empty())
        throw runtime::Exception("Не удаётся записывать сеанс в файл " + path + ": " + why);
}

TRecorder::~TRecorder() = default;

bool TRecorder::WriteLine(const std::string& line) noexcept
{
    try {
        if (!FFailure.empty())
            return false;
        std::string why;
        if (FFile.Write(line + '\n', why))
            return true;
        FFailure = "Запись сеанса в файл " + FPath + " прервана: " + why;
        std::fprintf(stderr, "ponderix: %s\n", FFailure.c_str());
    } catch (...) {
        // A recording that cannot be written must not turn a driver call into a failure.
    }
    return false;
}

void TRecorder::End() noexcept
{
    if (WriteLine(RecordingEndLine()))
        FFailure = "ended"; // nothing goes after the end line
}

// ---------------------------------------------------------------- reading

namespace {

// The rest of a recording is one line of last words (a crash or an exit in a call), which the
// crash report starts on a line of its own even when the line before it was cut short.
bool OnlyLastWordsFollow(std::string_view rest)
{
    while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r'))
        rest.remove_suffix(1);
    if (rest.empty() || rest.find('\n') != std::string_view::npos)
        return false;
    const Json object = Json::parse(rest, nullptr, false);
    return object.is_object() && (object.contains("crashed") || object.contains("exited"));
}

} // namespace

bool TRecording::EndedAbruptly() const
{
    return Header.MarksEnd && EndLine == 0 && CutShortLine == 0
           && (Steps.empty() || (Steps.back().Crashed.empty() && Steps.back().Exited.empty()));
}

TRecording ParseRecording(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3); // a byte-order mark from a hand editor
    TRecording recording;
    bool header = false;
    int line = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        ++line;
        const std::size_t end = text.find('\n', at);
        const bool complete = end != std::string_view::npos;
        std::string_view row = text.substr(at, complete ? end - at : std::string_view::npos);
        at = complete ? end + 1 : text.size();
        if (!row.empty() && row.back() == '\r')
            row.remove_suffix(1);
        if (row.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        // The parser would end the line at a NUL and drop the rest unseen. A last line cut short
        // (a crash may leave NULs behind) stands aside as any other.
        if (const std::size_t nul = row.find('\0'); nul != std::string_view::npos) {
            if (header && !recording.CutShortLine && (!complete || OnlyLastWordsFollow(text.substr(at)))) {
                recording.CutShortLine = line;
                continue;
            }
            throw ERecordingError(line, "a NUL character at column " + std::to_string(nul + 1));
        }
        Json object;
        try {
            object = Json::parse(row);
        } catch (const Json::out_of_range&) {
            throw ERecordingError(line, "a number beyond the range of a real");
        } catch (const Json::parse_error& e) {
            // A crash or a full disk: the lines before it stand, and the last words after it.
            if (header && !recording.CutShortLine && (!complete || OnlyLastWordsFollow(text.substr(at)))) {
                recording.CutShortLine = line;
                continue;
            }
            // The parser's message names the column; its own prefix is dropped.
            std::string why = e.what();
            if (const auto colon = why.find("parse error"); colon != std::string::npos)
                why = why.substr(colon);
            throw ERecordingError(line, "not a JSON object: " + why);
        }
        if (!object.is_object())
            throw ERecordingError(line, "not a JSON object");
        if (recording.EndLine)
            throw ERecordingError(line, "a line after the sitting's end (line " + std::to_string(recording.EndLine) + ")");
        if (!header) {
            recording.Header = ParseHeader(line, object);
            header = true;
        } else if (object.contains("end")) {
            AllowOnly(line, object, {"end"});
            if (RequireString(line, object, "end", true) != "normal")
                throw ERecordingError(line, "unknown end \"" + object["end"].get<std::string>() + "\"");
            recording.EndLine = line;
        } else {
            recording.Steps.push_back(ParseStep(line, object));
        }
    }
    if (!header)
        throw ERecordingError(line + 1, "the recording is empty: the header line is missing");
    return recording;
}

TRecording ReadRecordingFile(const std::string& path)
{
    const platform::FileRead read = platform::ReadFileBounded(path, MaxRecordingBytes);
    if (read.Outcome != platform::FileRead::TOutcome::Read)
        throw ERecordingError(0, "cannot read the recording " + path + ": " + read.Reason(MaxRecordingBytes));
    return ParseRecording(read.Text);
}

} // namespace driver
