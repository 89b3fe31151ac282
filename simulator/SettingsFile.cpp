#include "simulator/SettingsFile.h"

#include "platform/safefile.h"
#include "runtime/utf.h"
#include "simulator/SettingsJson.h"

#include <new>
#include <optional>
#include <system_error>

namespace trutina {

namespace fs = std::filesystem;

namespace {

TSettingsFileRead Refused(const fs::path& path, const std::string& why)
{
    TSettingsFileRead read;
    read.State = TSettingsFileRead::TState::Refused;
    read.Why = runtime::Utf8FromPath(path) + ": " + why;
    return read;
}

} // namespace

TSettingsFileRead ReadSettingsFile(const fs::path& path)
{
    TSettingsFileRead read;
    if (path.empty()) { // no usable configuration folder: nothing is written under the current one
        read.State = TSettingsFileRead::TState::Refused;
        read.Why = "нет папки настроек пользователя (HOME или XDG_CONFIG_HOME)";
        return read;
    }
    platform::FileRead file = platform::ReadOwnFileBounded(runtime::Utf8FromPath(path), MaxSettingsFileSize);
    using TOutcome = platform::FileRead::TOutcome;
    switch (file.Outcome) {
    case TOutcome::Missing: return read;
    case TOutcome::Read:
        read.State = TSettingsFileRead::TState::Read;
        read.Text = std::move(file.Text);
        return read;
    case TOutcome::TooLarge: read.State = TSettingsFileRead::TState::TooLarge; return read;
    case TOutcome::NotRegular: return Refused(path, "это не обычный файл (папка, устройство или канал)");
    case TOutcome::DanglingLink: return Refused(path, "символическая ссылка на несуществующий файл");
    case TOutcome::Denied: return Refused(path, "нет прав на чтение");
    case TOutcome::ForeignLink: return Refused(path, "путь идёт через символическую ссылку другого пользователя (" + file.Error + ")");
    case TOutcome::ForeignFile: return Refused(path, "файл другого пользователя");
    case TOutcome::Failed: break;
    }
    return Refused(path, "файл не читается (" + file.Error + ")");
}

bool MayReplaceSettingsFile(const fs::path& path)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    return status.type() == fs::file_type::not_found || status.type() == fs::file_type::regular;
}

namespace {

// The settings in the text, or nullopt with what is wrong when it does not map. Short of memory
// is no fault of the file: it is raised.
std::optional<TDriverSettings> Mapped(const std::string& text, std::string& problem)
{
    try {
        return SettingsFromJson(text, &problem);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        problem = e.what(); // whatever else the mapping raises, the text is not a settings file
        return std::nullopt;
    }
}

const char* const TooLargeProblem = "файл больше 4 МБ";

} // namespace

TRereadSettings RereadSettingsFile(const fs::path& path, const std::function<std::string()>& putAside)
{
    const TSettingsFileRead read = ReadSettingsFile(path);
    TRereadSettings reread;
    if (read.State == TSettingsFileRead::TState::Missing || read.State == TSettingsFileRead::TState::Refused)
        return reread;
    std::string problem = TooLargeProblem;
    if (read.State == TSettingsFileRead::TState::Read) {
        try {
            reread.Settings = Mapped(read.Text, problem);
        } catch (const std::bad_alloc&) {
            return reread;
        }
        if (reread.Settings)
            return reread;
    }
    reread.Damaged = TSettingsDamage{putAside(), problem};
    return reread;
}

TLoadedSettings LoadSettingsFile(const fs::path& path, const std::function<std::string()>& putAside,
                                 const std::function<bool(const TDriverSettings&)>& save)
{
    const TSettingsFileRead read = ReadSettingsFile(path);
    std::string problem = TooLargeProblem;
    switch (read.State) {
    case TSettingsFileRead::TState::Missing:
        return {TDriverSettings::Defaults(), {}};
    case TSettingsFileRead::TState::Refused:
        return {TDriverSettings::Defaults(), read.Why};
    case TSettingsFileRead::TState::Read:
        try {
            if (std::optional<TDriverSettings> settings = SettingsFromJson(read.Text, &problem))
                return {std::move(*settings), {}};
        } catch (const std::bad_alloc&) {
            // Short of memory is no fault of the file: it is left as it is.
            return {TDriverSettings::Defaults(), runtime::Utf8FromPath(path) + ": не хватило памяти для чтения"};
        } catch (const std::exception& e) {
            problem = e.what(); // whatever else the mapping raises, the text is not a settings file: damaged
        }
        break;
    case TSettingsFileRead::TState::TooLarge:
        break;
    }
    TDriverSettings defaults = TDriverSettings::Defaults();
    defaults.Damaged = TSettingsDamage{putAside(), problem};
    // Without a copy the damaged file stays where it is until the first change.
    if (!defaults.Damaged->KeptAs.empty())
        save(defaults);
    return {defaults, {}};
}

} // namespace trutina

namespace trutina {

std::string CheckSettingsFile(const fs::path& path)
{
    const TSettingsFileRead read = ReadSettingsFile(path);
    switch (read.State) {
    case TSettingsFileRead::TState::Missing:
        return "файла нет (будут настройки по умолчанию)";
    case TSettingsFileRead::TState::Refused:
        return read.Why;
    case TSettingsFileRead::TState::TooLarge:
        return TooLargeProblem;
    case TSettingsFileRead::TState::Read:
        break;
    }
    std::string problem;
    try {
        return Mapped(read.Text, problem) ? std::string() : problem;
    } catch (const std::bad_alloc&) {
        return "не хватило памяти для чтения";
    }
}

} // namespace trutina
