// The settings file for the Windows build without Qt (tested under Wine; no Qt for Windows is at
// hand): the same JSON file as SettingsStore.cpp, replaced atomically through MoveFileEx. Builds
// with Qt use SettingsStore.cpp.
#include "simulator/SettingsStore.h"

#include "simulator/SettingsFile.h"
#include "simulator/SettingsJson.h"
#include "platform/platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <windows.h>

namespace trutina {

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

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
    // Empty when the user has no configuration folder: never a path under the current folder.
    const std::string folder = platform::UserConfigFolder();
    return folder.empty() ? std::string() : folder + "/ponderix/trutina.json";
}

std::string TSettingsStore::ToJson(const TDriverSettings& settings) { return SettingsToJson(settings); }

std::optional<TDriverSettings> TSettingsStore::FromJson(const std::string& json, std::string* problem)
{
    return SettingsFromJson(json, problem);
}

TDriverSettings TSettingsStore::Load()
{
    FRefusal.clear(); // a refusal holds until the next Load
    TLoadedSettings loaded = LoadSettingsFile(
        PathOf(FPath), [this] { return PutAside(); }, [this](const TDriverSettings& settings) { return Save(settings); });
    FRefusal = std::move(loaded.Refusal);
    return std::move(loaded.Settings);
}

ISettingsSink::TLatest TSettingsStore::Latest()
{
    TLatest latest;
    if (!FRefusal.empty() || !MayReplaceSettingsFile(PathOf(FPath)))
        return latest; // a refused file, or what is not a regular file, is neither read again nor written
    latest.Lock = std::make_shared<platform::FileLock>(FPath + ".lock", SettingsLockTimeoutMs);
    TRereadSettings reread = RereadSettingsFile(PathOf(FPath), [this] { return PutAside(); });
    latest.Settings = std::move(reread.Settings);
    latest.DamagedCopy = std::move(reread.DamagedCopy);
    return latest;
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

bool TSettingsStore::Save(const TDriverSettings& settings)
{
    if (!FRefusal.empty() || !MayReplaceSettingsFile(PathOf(FPath)))
        return false;
    return ReplaceAtomically(PathOf(FPath), ToJson(settings));
}

} // namespace trutina
