#include "simulator/SettingsFile.h"

#include "simulator/SettingsJson.h"
#include "runtime/utf.h"

#include <cerrno>
#include <fstream>
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

std::string CannotRead(int error)
{
    if (error == EACCES || error == EPERM)
        return "нет прав на чтение";
    if (error == 0)
        return "файл не читается";
    return "файл не читается (" + std::generic_category().message(error) + ")";
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
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec); // follows a symbolic link
    if (status.type() == fs::file_type::not_found)
        return read;
    if (ec)
        return Refused(path, CannotRead(ec.value()));
    if (status.type() != fs::file_type::regular)
        return Refused(path, "это не обычный файл (папка, устройство или канал)");
    const std::uintmax_t size = fs::file_size(path, ec);
    if (!ec && size > MaxSettingsFileSize) {
        read.State = TSettingsFileRead::TState::TooLarge;
        return read;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Refused(path, CannotRead(errno));
    // The size was looked at before the file was opened: it may have grown since.
    std::string text;
    char chunk[64 * 1024];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (text.size() > MaxSettingsFileSize) {
            read.State = TSettingsFileRead::TState::TooLarge;
            return read;
        }
    }
    if (in.bad())
        return Refused(path, CannotRead(errno));
    read.State = TSettingsFileRead::TState::Read;
    read.Text = std::move(text);
    return read;
}

bool MayReplaceSettingsFile(const fs::path& path)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    return status.type() == fs::file_type::not_found || status.type() == fs::file_type::regular;
}

namespace {

// The settings in the text, or nullopt when it does not map. Short of memory is no fault of the
// file: it is raised.
std::optional<TDriverSettings> Mapped(const std::string& text)
{
    try {
        return SettingsFromJson(text);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return std::nullopt; // whatever else the mapping raises, the text is not a settings file
    }
}

std::string PutAsideName(const std::function<std::string()>& putAside)
{
    const std::string aside = putAside();
    return aside.empty() ? "(копию сохранить не удалось)" : aside;
}

} // namespace

TRereadSettings RereadSettingsFile(const fs::path& path, const std::function<std::string()>& putAside)
{
    const TSettingsFileRead read = ReadSettingsFile(path);
    TRereadSettings reread;
    if (read.State == TSettingsFileRead::TState::Missing || read.State == TSettingsFileRead::TState::Refused)
        return reread;
    if (read.State == TSettingsFileRead::TState::Read) {
        try {
            reread.Settings = Mapped(read.Text);
        } catch (const std::bad_alloc&) {
            return reread;
        }
        if (reread.Settings)
            return reread;
    }
    reread.DamagedCopy = PutAsideName(putAside);
    return reread;
}

TLoadedSettings LoadSettingsFile(const fs::path& path, const std::function<std::string()>& putAside,
                                 const std::function<bool(const TDriverSettings&)>& save)
{
    const TSettingsFileRead read = ReadSettingsFile(path);
    switch (read.State) {
    case TSettingsFileRead::TState::Missing:
        return {TDriverSettings::Defaults(), {}};
    case TSettingsFileRead::TState::Refused:
        return {TDriverSettings::Defaults(), read.Why};
    case TSettingsFileRead::TState::Read:
        try {
            if (std::optional<TDriverSettings> settings = SettingsFromJson(read.Text))
                return {std::move(*settings), {}};
        } catch (const std::bad_alloc&) {
            // Short of memory is no fault of the file: it is left as it is.
            return {TDriverSettings::Defaults(), runtime::Utf8FromPath(path) + ": не хватило памяти для чтения"};
        } catch (const std::exception&) {
            // Whatever else the mapping raises, the text is not a settings file: damaged.
        }
        break;
    case TSettingsFileRead::TState::TooLarge:
        break;
    }
    TDriverSettings defaults = TDriverSettings::Defaults();
    const std::string aside = putAside();
    if (aside.empty()) {
        // No copy could be made: the damaged file stays where it is until the first change.
        defaults.DamagedCopy = "(копию сохранить не удалось)";
        return {defaults, {}};
    }
    defaults.DamagedCopy = aside;
    save(defaults);
    return {defaults, {}};
}

} // namespace trutina
