// The settings file's JSON text: the mapping between the file and the driver's settings.
#include "simulator/SettingsJson.h"

#include "runtime/utf.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace trutina {

namespace {

using nlohmann::json;

constexpr int FormatVersion = 1;

// Raised while reading a field of the wrong kind; never leaves this file.
struct EBadField : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const json* Field(const json& o, const char* key)
{
    const auto it = o.find(key);
    return it == o.end() ? nullptr : &*it;
}

std::int32_t IntField(const json& o, const char* key, std::int32_t fallback)
{
    const json* v = Field(o, key);
    if (!v)
        return fallback;
    const double d = v->is_number() ? v->get<double>() : std::numeric_limits<double>::quiet_NaN();
    if (!v->is_number() || d != std::floor(d) || d < std::numeric_limits<std::int32_t>::min() ||
        d > std::numeric_limits<std::int32_t>::max())
        throw EBadField(std::string(key) + ": ожидалось целое число");
    return static_cast<std::int32_t>(d);
}

double RealField(const json& o, const char* key, double fallback)
{
    const json* v = Field(o, key);
    if (!v)
        return fallback;
    if (!v->is_number())
        throw EBadField(std::string(key) + ": ожидалось число");
    return v->get<double>();
}

// Milliseconds of a load profile: a number within 0..MaxProfileMs, whole milliseconds kept. The
// range is checked on the number itself: a cast of a number beyond the integer range is undefined.
TMillis MillisField(const json& o, const char* key)
{
    const double d = RealField(o, key, 0);
    if (!(d >= 0 && d <= static_cast<double>(MaxProfileMs)))
        throw EBadField(std::string(key) + ": ожидалось число мс от 0 до 30 суток");
    return static_cast<TMillis>(d);
}

bool BoolField(const json& o, const char* key, bool fallback)
{
    const json* v = Field(o, key);
    if (!v)
        return fallback;
    if (!v->is_boolean())
        throw EBadField(std::string(key) + ": ожидалось true или false");
    return v->get<bool>();
}

std::string TextField(const json& o, const char* key, const std::string& fallback)
{
    const json* v = Field(o, key);
    if (!v)
        return fallback;
    if (!v->is_string())
        throw EBadField(std::string(key) + ": ожидался текст");
    return v->get<std::string>();
}

const json& Checked(const json& v, bool ok, const std::string& what)
{
    if (!ok)
        throw EBadField(what);
    return v;
}

// Reads one element of a list: a mistake in it is named with its place ("devices[2].port: ...").
template <typename Read> auto Within(const std::string& place, Read&& read)
{
    try {
        return read();
    } catch (const EBadField& e) {
        throw EBadField(place + "." + e.what());
    }
}

// Where a syntax error is: "строка 3, позиция 7" (lines and characters counted from 1).
std::string PlaceOf(std::string_view text, std::size_t byte)
{
    byte = std::min(byte, text.size());
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i + 1 < byte; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "строка " + std::to_string(line) + ", позиция " + std::to_string(column);
}

json ObjectField(const json& o, const char* key)
{
    const json* v = Field(o, key);
    return v ? Checked(*v, v->is_object(), std::string(key) + ": ожидался объект") : json::object();
}

json ArrayField(const json& o, const char* key)
{
    const json* v = Field(o, key);
    return v ? Checked(*v, v->is_array(), std::string(key) + ": ожидался список") : json::array();
}

TDeviceParameters ParametersFromJson(const json& o)
{
    TDeviceParameters p;
    p.ProtocolType = IntField(o, "protocolType", p.ProtocolType);
    p.BaudRate = IntField(o, "baudRate", p.BaudRate);
    p.SleepMode = IntField(o, "sleepMode", p.SleepMode);
    p.TareMode = IntField(o, "tareMode", p.TareMode);
    p.Password = IntField(o, "password", p.Password);
    return p;
}

} // namespace

std::string SettingsToJson(const TDriverSettings& s)
{
    json devices = json::array();
    for (const auto& d : s.Devices) {
        const TDeviceParameters& p = d.Parameters;
        devices.push_back({{"number", d.Number},
                           {"name", runtime::Utf16ToUtf8(d.Name)},
                           {"port", d.PortNumber},
                           {"baudRate", d.BaudRate},
                           {"parity", d.Parity},
                           {"model", d.Model},
                           {"enabled", d.Enabled},
                           {"parameters",
                            {{"protocolType", p.ProtocolType},
                             {"baudRate", p.BaudRate},
                             {"sleepMode", p.SleepMode},
                             {"tareMode", p.TareMode},
                             {"password", p.Password}}},
                           {"loadProfile", d.LoadProfile},
                           {"priceRounding", static_cast<double>(d.PriceStep) / 10000}});
    }
    json profiles = json::object();
    for (const auto& [name, profile] : s.LoadProfiles) {
        json steps = json::array();
        for (const auto& step : profile.Steps) {
            json o = {{"at", step.At}, {"load", step.Load}};
            if (step.Unstable)
                o["unstable"] = true;
            if (step.Disconnected)
                o["disconnected"] = true;
            if (step.AnswerAtOnce)
                o["answerAtOnce"] = true;
            if (step.Refuse != TResult::Ok)
                o["refuse"] = static_cast<std::int32_t>(step.Refuse);
            if (step.RefuseCount != 1)
                o["refuseCount"] = step.RefuseCount;
            if (!step.RefuseOperations.empty())
                o["refuseOperations"] = step.RefuseOperations;
            if (step.DelayMs != 0)
                o["delayMs"] = step.DelayMs;
            steps.push_back(std::move(o));
        }
        profiles[name] = {{"loopMs", profile.LoopMs}, {"steps", std::move(steps)}};
    }
    json root = {{"format", FormatVersion},
                 {"currentDevice", s.CurrentDeviceNumber},
                 {"lockDevices", s.LockDevices},
                 {"pollingInterval", s.PollingInterval},
                 {"weightStep", s.WeightStep},
                 {"updatePrice", s.UpdatePrice},
                 {"autoDisable", s.AutoDisable},
                 {"timeout", s.Timeout},
                 {"simulatedMsPerReading", s.SimulatedMsPerReading},
                 {"devices", std::move(devices)},
                 {"loadProfiles", std::move(profiles)}};
    if (s.Damaged)
        root["damaged"] = {{"keptAs", s.Damaged->KeptAs}, {"problem", s.Damaged->Problem}};
    // Texts that are not valid UTF-8 are written with replacement characters rather than refused.
    return root.dump(-1, ' ', false, json::error_handler_t::replace) + "\n"; // compact: a quarter of the indented size
}

std::optional<TDriverSettings> SettingsFromJson(std::string_view text, std::string* problem)
{
    auto fail = [&](const std::string& why) -> std::optional<TDriverSettings> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        // The parser's own words after the place say what it expected.
        const std::string what = e.what();
        const std::size_t detail = what.find("syntax error");
        return fail(PlaceOf(text, e.byte) + ": ошибка в записи JSON" +
                    (detail == std::string::npos ? std::string() : " (" + what.substr(detail) + ")"));
    } catch (const json::exception& e) { // a number beyond the double range (1e400)
        return fail(std::string("число вне диапазона (") + e.what() + ")");
    }
    if (!doc.is_object())
        return fail("ожидался объект JSON { ... }");
    try {
        if (IntField(doc, "format", FormatVersion) != FormatVersion)
            return fail("format: ожидалось 1");
        TDriverSettings s;
        s.CurrentDeviceNumber = IntField(doc, "currentDevice", 1);
        s.LockDevices = BoolField(doc, "lockDevices", s.LockDevices);
        s.PollingInterval = IntField(doc, "pollingInterval", s.PollingInterval);
        s.WeightStep = RealField(doc, "weightStep", s.WeightStep);
        s.UpdatePrice = BoolField(doc, "updatePrice", s.UpdatePrice);
        s.AutoDisable = BoolField(doc, "autoDisable", s.AutoDisable);
        s.Timeout = IntField(doc, "timeout", s.Timeout);
        s.SimulatedMsPerReading = IntField(doc, "simulatedMsPerReading", 0);
        if (const json* damaged = Field(doc, "damaged"))
        {
            const json& o = Checked(*damaged, damaged->is_object(), "damaged: ожидался объект");
            s.Damaged = TSettingsDamage{TextField(o, "keptAs", {}), TextField(o, "problem", {})};
        }
        const json devices = ArrayField(doc, "devices");
        for (std::size_t i = 0; i < devices.size(); ++i) Within("devices[" + std::to_string(i) + "]", [&] {
            const json& o = Checked(devices[i], devices[i].is_object(), "ожидался объект");
            TDeviceSettings d;
            d.Number = IntField(o, "number", 0);
            d.Name = runtime::Utf8ToUtf16(TextField(o, "name", runtime::Utf16ToUtf8(DefaultDeviceName(d.Number))));
            d.PortNumber = IntField(o, "port", d.PortNumber);
            d.BaudRate = IntField(o, "baudRate", d.BaudRate);
            d.Parity = IntField(o, "parity", d.Parity);
            d.Model = IntField(o, "model", d.Model);
            d.Enabled = BoolField(o, "enabled", d.Enabled);
            d.Parameters = ParametersFromJson(ObjectField(o, "parameters"));
            d.LoadProfile = TextField(o, "loadProfile", {});
            // A decimal in the file (0.05), money units in the settings; a value off the list stays
            // off it and is named by the check of the settings.
            const double rounding = RealField(o, "priceRounding", 0.01);
            d.PriceStep = std::isfinite(rounding) && std::fabs(rounding) < 1e6 ? std::llround(rounding * 10000) : 0;
            s.Devices.push_back(std::move(d));
        });
        const json profiles = ObjectField(doc, "loadProfiles");
        for (const auto& item : profiles.items()) Within("loadProfiles." + item.key(), [&] {
            const std::string name = item.key(); // a lambda cannot capture a structured binding
            const json& o = Checked(item.value(), item.value().is_object(), "ожидался объект");
            TLoadProfile profile;
            profile.LoopMs = MillisField(o, "loopMs");
            const json steps = ArrayField(o, "steps");
            for (std::size_t j = 0; j < steps.size(); ++j) Within("steps[" + std::to_string(j) + "]", [&] {
                const json& so = Checked(steps[j], steps[j].is_object(), "ожидался объект");
                TLoadStep step;
                step.At = MillisField(so, "at");
                step.Load = RealField(so, "load", 0);
                step.Unstable = BoolField(so, "unstable", false);
                step.Disconnected = BoolField(so, "disconnected", false);
                step.AnswerAtOnce = BoolField(so, "answerAtOnce", false);
                step.Refuse = TResult(IntField(so, "refuse", 0));
                step.RefuseCount = IntField(so, "refuseCount", 1);
                for (const json& operation : ArrayField(so, "refuseOperations"))
                    step.RefuseOperations.push_back(Checked(operation, operation.is_string(), "refuseOperations: ожидались имена операций").get<std::string>());
                step.DelayMs = IntField(so, "delayMs", 0);
                profile.Steps.push_back(step);
            });
            s.LoadProfiles[name] = std::move(profile);
        });
        if (const std::string wrong = s.Problem(); !wrong.empty())
            return fail(wrong);
        return s;
    } catch (const EBadField& e) {
        return fail(e.what());
    } catch (const json::exception& e) {
        return fail(e.what());
    }
}

} // namespace trutina
