// Reading the settings file, for both forms of TSettingsStore. The file comes from outside: only
// a regular file (or a symbolic link to one) of a settings file's size is ever read, put aside or
// replaced. A file that is read and does not map is damaged; a path that is not a regular file, or
// a file that cannot be read, is refused and left as it is.
#pragma once

#include "simulator/DriverSettings.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace trutina {

// Far beyond 99 devices with long load profiles; a larger file is damaged, and is not read.
constexpr std::uintmax_t MaxSettingsFileSize = 4 * 1024 * 1024;

struct TSettingsFileRead {
    enum class TState {
        Missing,  // no file at the path
        Read,     // Text holds the whole file
        TooLarge, // a regular file beyond MaxSettingsFileSize
        Refused,  // not a regular file, or it cannot be read (Why says which)
    };
    TState State = TState::Missing;
    std::string Text;
    std::string Why; // UTF-8, in the operator's words, with the path
};

TSettingsFileRead ReadSettingsFile(const std::filesystem::path& path);

// Whether the path may be written: nothing is there yet, or a regular file (a link is followed).
bool MayReplaceSettingsFile(const std::filesystem::path& path);

struct TLoadedSettings {
    TDriverSettings Settings;
    std::string Refusal; // why the file was refused; the settings are then the defaults, never written
};

// What a store's Load does with the file: the settings in it; the defaults when it is missing or
// refused; the defaults with Damaged when it is damaged (too large, not JSON, not settings),
// after putAside has renamed it (giving the copy's name, empty when no copy could be made) and
// save has written the defaults.
TLoadedSettings LoadSettingsFile(const std::filesystem::path& path, const std::function<std::string()>& putAside,
                                 const std::function<bool(const TDriverSettings&)>& save);

// What the file holds now, read again before a change is written (under the file's lock).
struct TRereadSettings {
    std::optional<TDriverSettings> Settings; // nullopt: missing, refused or damaged (keep your own)
    std::optional<TSettingsDamage> Damaged;  // damaged: put aside
};
TRereadSettings RereadSettingsFile(const std::filesystem::path& path, const std::function<std::string()>& putAside);

// What is wrong with the settings file, in the words the damaged-file notice uses (the key or line
// and what was expected); empty when it reads as settings. Nothing is changed.
std::string CheckSettingsFile(const std::filesystem::path& path);

// How long a store waits for the file's lock before it refuses the change.
constexpr int SettingsLockTimeoutMs = 2000;

} // namespace trutina
