// The class registry as a per-user text file, in the manner of a .reg file:
//
//   [{CLSID}]
//   InprocServer32=/absolute/path/of/module
//   ThreadingModel=Apartment
//   Description=...
//
// Blank lines and lines starting with ';' or '#' are ignored; anything else that does not fit the
// form makes the file damaged, which is reported and never overwritten.
#include "platform/internal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {
namespace {

constexpr const char* kServerKey = "InprocServer32";
constexpr const char* kThreadingKey = "ThreadingModel";
constexpr const char* kDescriptionKey = "Description";

struct ClassEntry {
    CLSID Clsid{};
    std::vector<std::pair<std::string, std::string>> Values;

    const std::string* Value(std::string_view key) const
    {
        for (const auto& [k, v] : Values)
            if (k == key)
                return &v;
        return nullptr;
    }
};

enum class ReadStatus { Read, Missing, Damaged, Unreadable };

// Serialises the read-modify-write of registrations made from this process.
std::mutex& RegistryLock()
{
    static std::mutex lock;
    return lock;
}

std::string_view Trim(std::string_view s)
{
    const auto notSpace = [](char c) { return c != ' ' && c != '\t' && c != '\r'; };
    while (!s.empty() && !notSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && !notSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string GuidText(REFCLSID clsid)
{
    OLECHAR wide[40];
    const int n = StringFromGUID2(clsid, wide, 40);
    return std::string(wide, wide + (n > 0 ? n - 1 : 0)); // the text form is ASCII
}

std::optional<CLSID> ParseGuidText(std::string_view text)
{
    if (text.size() != 38)
        return std::nullopt;
    std::u16string wide(text.begin(), text.end());
    CLSID clsid{};
    if (FAILED(CLSIDFromString(wide.c_str(), &clsid)))
        return std::nullopt;
    return clsid;
}

bool ParseRegistry(const std::string& text, std::vector<ClassEntry>& entries)
{
    if (text.find('\0') != std::string::npos)
        return false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return false;
            const auto clsid = ParseGuidText(line.substr(1, line.size() - 2));
            if (!clsid)
                return false;
            for (const auto& e : entries)
                if (e.Clsid == *clsid)
                    return false;
            entries.push_back({*clsid, {}});
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || entries.empty())
            return false;
        const std::string_view key = Trim(line.substr(0, eq));
        if (key.empty())
            return false;
        entries.back().Values.emplace_back(std::string(key), std::string(Trim(line.substr(eq + 1))));
    }
    return true;
}

ReadStatus ReadRegistry(const std::string& path, std::vector<ClassEntry>& entries)
{
    entries.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            return ReadStatus::Unreadable;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return ParseRegistry(text, entries) ? ReadStatus::Read : ReadStatus::Damaged;
}

std::string FormatRegistry(const std::vector<ClassEntry>& entries)
{
    std::string text = "; Ponderix class registry: in-process servers by class id.\n";
    for (const auto& e : entries) {
        text += "\n[" + GuidText(e.Clsid) + "]\n";
        for (const auto& [k, v] : e.Values)
            text += k + "=" + v + "\n";
    }
    return text;
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void SyncFolder(const std::filesystem::path& folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Writes the whole file through a temporary file in the same folder, flushed to disk and then
// renamed over the old one: a reader sees the old or the new file, never a part of either.
bool WriteRegistryAtomically(const std::string& path, const std::vector<ClassEntry>& entries)
{
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return false;

    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = fchmod(fd, 0644) == 0 && WriteAll(fd, FormatRegistry(entries)) && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    SyncFolder(folder);
    return true;
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return ".";
}

} // namespace

std::string ClassRegistryPath()
{
    if (const char* explicitPath = std::getenv("PONDERIX_CLASS_REGISTRY"); explicitPath && *explicitPath)
        return explicitPath;
    // Relative XDG_CONFIG_HOME values are invalid and are ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return std::string(config) + "/ponderix/classes.reg";
    return HomeFolder() + "/.config/ponderix/classes.reg";
}

HRESULT RegisterInprocServer(REFCLSID clsid, const std::string& modulePath, const std::string& threadingModel,
                             const std::string& description)
{
    try {
        if (!detail::RegistrableEntry(modulePath, threadingModel, description))
            return SELFREG_E_CLASS;
        std::error_code ec;
        const std::string absolutePath = std::filesystem::absolute(modulePath, ec).lexically_normal().string();
        if (ec)
            return SELFREG_E_CLASS;

        const std::string path = ClassRegistryPath();
        std::lock_guard guard(RegistryLock());
        std::vector<ClassEntry> entries;
        const ReadStatus status = ReadRegistry(path, entries);
        if (status == ReadStatus::Damaged || status == ReadStatus::Unreadable)
            return SELFREG_E_CLASS;

        ClassEntry entry{clsid, {{kServerKey, absolutePath}}};
        if (!threadingModel.empty())
            entry.Values.emplace_back(kThreadingKey, threadingModel);
        if (!description.empty())
            entry.Values.emplace_back(kDescriptionKey, description);
        bool replaced = false;
        for (auto& e : entries)
            if (e.Clsid == clsid) {
                e = entry;
                replaced = true;
            }
        if (!replaced)
            entries.push_back(std::move(entry));
        return WriteRegistryAtomically(path, entries) ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

HRESULT UnregisterInprocServer(REFCLSID clsid)
{
    try {
        const std::string path = ClassRegistryPath();
        std::lock_guard guard(RegistryLock());
        std::vector<ClassEntry> entries;
        switch (ReadRegistry(path, entries)) {
        case ReadStatus::Missing:
            return S_OK;
        case ReadStatus::Damaged:
        case ReadStatus::Unreadable:
            return SELFREG_E_CLASS;
        case ReadStatus::Read:
            break;
        }
        const auto before = entries.size();
        std::erase_if(entries, [&](const ClassEntry& e) { return e.Clsid == clsid; });
        if (entries.size() == before)
            return S_OK;
        return WriteRegistryAtomically(path, entries) ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

HRESULT LookupInprocServer(REFCLSID clsid, std::string& modulePath)
{
    try {
        modulePath.clear();
        const std::string path = ClassRegistryPath();
        std::vector<ClassEntry> entries;
        {
            std::lock_guard guard(RegistryLock());
            switch (ReadRegistry(path, entries)) {
            case ReadStatus::Missing:
                return REGDB_E_CLASSNOTREG;
            case ReadStatus::Damaged:
            case ReadStatus::Unreadable:
                return REGDB_E_READREGDB;
            case ReadStatus::Read:
                break;
            }
        }
        for (const auto& e : entries)
            if (e.Clsid == clsid) {
                const std::string* server = e.Value(kServerKey);
                if (!server || server->empty())
                    return REGDB_E_CLASSNOTREG;
                modulePath = *server;
                return S_OK;
            }
        return REGDB_E_CLASSNOTREG;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

} // namespace platform
