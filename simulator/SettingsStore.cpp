#include "simulator/SettingsStore.h"

#include "platform/configfolder.h"
#include "platform/filelock.h"
#include "platform/safefile.h"
#include "runtime/utf.h"
#include "simulator/SettingsFile.h"
#include "simulator/SettingsJson.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace trutina {

TSettingsStore::TSettingsStore(QString path) : FPath(std::move(path)) {}

QString TSettingsStore::DefaultPath()
{
    // Paths are UTF-8 from the platform layer and read as Unicode from the environment: the
    // driver runs in other people's programs, whose code page (Windows' ANSI one) may not hold them.
    const QString overridden = qEnvironmentVariable("TRUTINA_SETTINGS");
    if (!overridden.isEmpty())
        return overridden;
    // Empty when the user has no configuration folder: never a path under the current folder.
    const std::string folder = platform::UserConfigFolder();
    return folder.empty() ? QString() : QString::fromStdString(folder) + QStringLiteral("/ponderix/trutina.json");
}

QByteArray TSettingsStore::ToJson(const TDriverSettings& settings)
{
    return QByteArray::fromStdString(SettingsToJson(settings));
}

std::optional<TDriverSettings> TSettingsStore::FromJson(const QByteArray& json, QString* problem)
{
    std::string why;
    std::optional<TDriverSettings> settings = SettingsFromJson(std::string_view(json.constData(), json.size()), &why);
    if (!settings && problem)
        *problem = QString::fromStdString(why);
    return settings;
}

std::filesystem::path TSettingsStore::FileSystemPath() const
{
    return runtime::PathFromUtf8(FPath.toStdString());
}

TDriverSettings TSettingsStore::Load()
{
    FRefusal.clear(); // a refusal holds until the next Load
    TLoadedSettings loaded = LoadSettingsFile(
        FileSystemPath(), [this] { return PutAside().toStdString(); },
        [this](const TDriverSettings& settings) { return Save(settings); });
    FRefusal = std::move(loaded.Refusal);
    return std::move(loaded.Settings);
}

ISettingsSink::TLatest TSettingsStore::Latest()
{
    TLatest latest;
    if (!FRefusal.empty() || !MayReplaceSettingsFile(FileSystemPath()))
        return latest; // a refused file, or what is not a regular file, is neither read again nor written
    std::filesystem::path lockFile = FileSystemPath();
    lockFile += ".lock";
    auto lock = std::make_shared<platform::FileLock>(runtime::Utf8FromPath(lockFile), SettingsLockTimeoutMs);
    // A lock file that exists and could not be locked in time is held by another process (one that
    // died let its lock go); without a lock file (no folder yet) nobody holds it.
    std::error_code ec;
    if (!lock->Locked() && std::filesystem::exists(lockFile, ec)) {
        latest.Busy = true;
        return latest;
    }
    latest.Lock = std::move(lock);
    TRereadSettings reread = RereadSettingsFile(FileSystemPath(), [this] { return PutAside().toStdString(); });
    latest.Settings = std::move(reread.Settings);
    latest.Damaged = std::move(reread.Damaged);
    return latest;
}

QString TSettingsStore::PutAside()
{
    // The same damaged content is put aside once: a store that meets it again keeps the first copy.
    const platform::FileRead damaged = platform::ReadFileBounded(runtime::Utf8FromPath(FileSystemPath()), 16 * MaxSettingsFileSize);
    const std::size_t hash = damaged.Outcome == platform::FileRead::TOutcome::Read
                                 ? std::hash<std::string>{}(damaged.Text) : 0;
    if (hash != 0 && hash == FAsideHash && QFile::exists(QFileInfo(FPath).dir().filePath(FAsideName)))
        return FAsideName;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = FPath + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = FPath + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(FPath, aside) && !QFile::copy(FPath, aside))
        return {};
    FAsideHash = hash;
    FAsideName = QFileInfo(aside).fileName();
    return FAsideName;
}

bool TSettingsStore::Save(const TDriverSettings& settings)
{
    if (!FRefusal.empty() || !MayReplaceSettingsFile(FileSystemPath()))
        return false;
    const std::string json = SettingsToJson(settings);
    if (json.size() > MaxSettingsFileSize)
        return false; // the next start would find it damaged
    QDir().mkpath(QFileInfo(FPath).absolutePath());
    return platform::ReplaceFileAtomically(runtime::Utf8FromPath(FileSystemPath()), json).empty();
}

} // namespace trutina
