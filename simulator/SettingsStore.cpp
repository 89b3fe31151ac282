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
    // A lock not had in time is held by another process (one that died let its lock go). A lock file
    // that cannot be used is no one's: said with the change that is then not written. Without a
    // folder yet nobody holds it, and the first write makes the folder.
    std::error_code ec;
    if (lock->Held()) {
        latest.Busy = true;
        return latest;
    }
    if (!lock->Locked() && std::filesystem::exists(lockFile.parent_path(), ec))
        latest.LockProblem = "блокировка файла настроек недоступна: " + lock->Holder();
    latest.Lock = std::move(lock);
    TRereadSettings reread = RereadSettingsFile(FileSystemPath(), [this] { return PutAside().toStdString(); });
    latest.Settings = std::move(reread.Settings);
    latest.Damaged = std::move(reread.Damaged);
    return latest;
}

std::shared_ptr<void> TSettingsStore::HoldPort(std::int32_t port, std::string& problem)
{
    // Without a usable settings file there is no place to meet other processes: held here only.
    if (!FRefusal.empty() || !MayReplaceSettingsFile(FileSystemPath()))
        return std::make_shared<int>(0);
    QDir().mkpath(QFileInfo(FPath).absolutePath());
    std::filesystem::path lockFile = FileSystemPath();
    lockFile += ".port" + std::to_string(port) + ".lock";
    auto lock = std::make_shared<platform::FileLock>(runtime::Utf8FromPath(lockFile), 0);
    if (lock->Locked()) {
        lock->RemoveOnRelease();
        return lock;
    }
    if (!lock->Held())
        problem = "блокировка порта " + std::to_string(port) + " недоступна: " + lock->Holder();
    return nullptr;
}

QString TSettingsStore::PutAside()
{
    // The same damaged content is put aside once: a store that meets it again keeps the first copy.
    const platform::FileRead damaged = platform::ReadOwnFileBounded(runtime::Utf8FromPath(FileSystemPath()), 16 * MaxSettingsFileSize);
    const std::size_t hash = damaged.Outcome == platform::FileRead::TOutcome::Read
                                 ? std::hash<std::string>{}(damaged.Text) : 0;
    if (hash != 0 && hash == FAsideHash && QFile::exists(QFileInfo(FPath).dir().filePath(FAsideName)))
        return FAsideName;
    // Through a link, the file the link names is copied aside beside it and stays, to be replaced:
    // the link stays too, and every write reaches that file. Its copy is named by its whole path.
    const QFileInfo info(FPath);
    const QString file = info.isSymLink() ? info.canonicalFilePath() : FPath;
    if (file.isEmpty())
        return {};
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = file + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = file + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    if ((info.isSymLink() || !QFile::rename(file, aside)) && !QFile::copy(file, aside))
        return {};
    FAsideHash = hash;
    FAsideName = info.isSymLink() ? aside : QFileInfo(aside).fileName();
    return FAsideName;
}

bool TSettingsStore::Save(const TDriverSettings& settings)
{
    if (!FRefusal.empty())
        FSaveProblem = FRefusal;
    else if (!MayReplaceSettingsFile(FileSystemPath()))
        FSaveProblem = runtime::Utf8FromPath(FileSystemPath()) + ": это не обычный файл (папка, устройство или канал)";
    else if (const std::string json = SettingsToJson(settings); json.size() > MaxSettingsFileSize)
        FSaveProblem = "настройки заняли бы больше 4 МБ"; // the next start would find the file damaged
    else {
        QDir().mkpath(QFileInfo(FPath).absolutePath());
        const std::string path = runtime::Utf8FromPath(FileSystemPath());
        const std::string why = platform::ReplaceFileAtomically(path, json);
        FSaveProblem = why.empty() ? why : path + ": " + why;
    }
    return FSaveProblem.empty();
}

} // namespace trutina
