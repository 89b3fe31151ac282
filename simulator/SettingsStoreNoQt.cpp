// The settings file for the Windows build without Qt (tested under Wine; no Qt for Windows is at
// hand): the same JSON file as SettingsStore.cpp, read and written with nlohmann::json and
// replaced atomically through MoveFileEx. Builds with Qt use SettingsStore.cpp.
#include "simulator/SettingsStore.h"

#include "runtime/utf.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <system_error>

#include <windows.h>

namespace trutina {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr int FormatVersion = 1;

// Raised while reading a field of the wrong kind; never leaves this file.
struct EBadField : std::runtime_error {
    using std::runtime_error::runtime_error;
};

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

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
        throw EBadField(std::string(key) + " is not a whole number");
    return static_cast<std::int32_t>(d);
}

double RealField(const json& o, const char* key, double fallback)
{
    const json* v = Field(o, key);
    if (!v)
        return fallback;
    if (!v->is_number())
        throw EBadField(std::string(key) + " is not a number");
    return v->get<double>();
}

bool BoolField(const json& o, const char* key, bool fallback)
{
    const json* v = Field(o, key);
    if (!v)
        return fallback;
    if (!v->is_boolean())
        throw EBadField(std::string(key) + " is not true or false");
    return v->get<bool>();
}

std::string TextField(const json& o, const char* key, const std::string& fallback)
{
    const json* v = Field(o, key);
    if (!v)
        return fallback;
    if (!v->is_string())
        throw EBadField(std::string(key) + " is not a text");
    return v->get<std::string>();
}

const json& Checked(const json& v, bool ok, const std::string& what)
{
    if (!ok)
        throw EBadField(what);
    return v;
}

json ObjectField(const json& o, const char* key)
{
    const json* v = Field(o, key);
    return v ? Checked(*v, v->is_object(), std::string(key) + " is not an object") : json::object();
}

json ArrayField(const json& o, const char* key)
{
    const json* v = Field(o, key);
    return v ? Checked(*v, v->is_array(), std::string(key) + " is not a list") : json::array();
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

std::optional<std::string> ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes the text to a temporary file beside the target, flushes it to the disk and puts it in
// the target's place in one rename: a reader sees the old file or the new one, never a part.
bool ReplaceAtomically(const fs::path& target, const std::string& text)
{
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    fs::path temporary = target;
    temporary += ".saving";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (ok && MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temporary.c_str());
    return false;
}

} // namespace

TSettingsStore::TSettingsStore(std::string path) : FPath(std::move(path)) {}

std::string TSettingsStore::DefaultPath()
{
    if (const char* overridden = std::getenv("TRUTINA_SETTINGS"); overridden && *overridden)
        return overridden;
    const char* base = std::getenv("APPDATA");
    const std::string folder = base && *base ? base : (fs::temp_directory_path() / "ponderix-config").string();
    return folder + "/ponderix/trutina.json";
}

std::string TSettingsStore::ToJson(const TDriverSettings& s)
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
                           {"loadProfile", d.LoadProfile}});
    }
    json profiles = json::object();
    for (const auto& [name, profile] : s.LoadProfiles) {
        json steps = json::array();
        for (const auto& step : profile.Steps) {
            json o = {{"at", static_cast<double>(step.At)}, {"load", step.Load}};
            if (step.Unstable)
                o["unstable"] = true;
            if (step.Disconnected)
                o["disconnected"] = true;
            steps.push_back(std::move(o));
        }
        profiles[name] = {{"loopMs", static_cast<double>(profile.LoopMs)}, {"steps", std::move(steps)}};
    }
    json root = {{"format", FormatVersion},
                 {"currentDevice", s.CurrentDeviceNumber},
                 {"lockDevices", s.LockDevices},
                 {"pollingInterval", s.PollingInterval},
                 {"weightStep", s.WeightStep},
                 {"updatePrice", s.UpdatePrice},
                 {"autoDisable", s.AutoDisable},
                 {"timeout", s.Timeout},
                 {"devices", std::move(devices)},
                 {"loadProfiles", std::move(profiles)}};
    if (!s.DamagedCopy.empty())
        root["damagedCopy"] = s.DamagedCopy;
    return root.dump(4) + "\n";
}

std::optional<TDriverSettings> TSettingsStore::FromJson(const std::string& text, std::string* problem)
{
    auto fail = [&](const std::string& why) -> std::optional<TDriverSettings> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    const json doc = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded())
        return fail("not valid JSON");
    if (!doc.is_object())
        return fail("not a JSON object");
    try {
        if (IntField(doc, "format", FormatVersion) != FormatVersion)
            return fail("unknown format");
        TDriverSettings s;
        s.CurrentDeviceNumber = IntField(doc, "currentDevice", 1);
        s.LockDevices = BoolField(doc, "lockDevices", s.LockDevices);
        s.PollingInterval = IntField(doc, "pollingInterval", s.PollingInterval);
        s.WeightStep = RealField(doc, "weightStep", s.WeightStep);
        s.UpdatePrice = BoolField(doc, "updatePrice", s.UpdatePrice);
        s.AutoDisable = BoolField(doc, "autoDisable", s.AutoDisable);
        s.Timeout = IntField(doc, "timeout", s.Timeout);
        s.DamagedCopy = TextField(doc, "damagedCopy", {});
        for (const json& v : ArrayField(doc, "devices")) {
            const json& o = Checked(v, v.is_object(), "device is not an object");
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
            s.Devices.push_back(std::move(d));
        }
        const json profiles = ObjectField(doc, "loadProfiles");
        for (const auto& [name, value] : profiles.items()) {
            const json& o = Checked(value, value.is_object(), "load profile is not an object");
            TLoadProfile profile;
            profile.LoopMs = static_cast<TMillis>(RealField(o, "loopMs", 0));
            for (const json& v : ArrayField(o, "steps")) {
                const json& so = Checked(v, v.is_object(), "load step is not an object");
                TLoadStep step;
                step.At = static_cast<TMillis>(RealField(so, "at", 0));
                step.Load = RealField(so, "load", 0);
                step.Unstable = BoolField(so, "unstable", false);
                step.Disconnected = BoolField(so, "disconnected", false);
                profile.Steps.push_back(step);
            }
            s.LoadProfiles[name] = std::move(profile);
        }
        if (const std::string wrong = s.Problem(); !wrong.empty())
            return fail(wrong);
        return s;
    } catch (const EBadField& e) {
        return fail(e.what());
    }
}

TDriverSettings TSettingsStore::Load()
{
    const fs::path path = PathOf(FPath);
    std::error_code ec;
    if (!fs::exists(path, ec))
        return TDriverSettings::Defaults();
    std::optional<TDriverSettings> loaded;
    if (const std::optional<std::string> text = ReadFile(path))
        loaded = FromJson(*text);
    if (loaded)
        return *loaded;
    TDriverSettings defaults = TDriverSettings::Defaults();
    const std::string aside = PutAside();
    if (aside.empty()) {
        // No copy could be made: the damaged file stays where it is until the first change.
        defaults.DamagedCopy = "(копию сохранить не удалось)";
        return defaults;
    }
    defaults.DamagedCopy = aside;
    Save(defaults);
    return defaults;
}

std::string TSettingsStore::PutAside()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const fs::path path = PathOf(FPath);
    fs::path aside = path;
    aside += std::string(".damaged-") + stamp;
    std::error_code ec;
    for (int n = 2; fs::exists(aside, ec); ++n) {
        aside = path;
        aside += std::string(".damaged-") + stamp + "-" + std::to_string(n);
    }
    fs::rename(path, aside, ec);
    if (ec) {
        ec.clear();
        fs::copy_file(path, aside, ec);
        if (ec)
            return {};
    }
    const std::u8string name = aside.filename().u8string();
    return std::string(name.begin(), name.end());
}

bool TSettingsStore::Save(const TDriverSettings& settings) { return ReplaceAtomically(PathOf(FPath), ToJson(settings)); }

} // namespace trutina
