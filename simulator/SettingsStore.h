// The driver's settings file: JSON, one per user, written atomically after every change.
// Location: the environment variable TRUTINA_SETTINGS, else <user config>/ponderix/trutina.json.
// A missing file gives the defaults; a damaged one is renamed to "<name>.damaged-<time>" and the
// defaults are used, with the copy's name kept for the next operation to report. A path that is
// not a regular file, or a file that cannot be read, is refused: the defaults are used and
// nothing is written (SettingsFile.h).
#pragma once

#include "simulator/ScaleDriver.h"

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <optional>
#include <string>

namespace trutina {

class TSettingsStore final : public ISettingsSink {
public:
    explicit TSettingsStore(QString path);

    static QString DefaultPath();
    const QString& Path() const { return FPath; }

    // The settings in the file, the defaults when it is missing or refused, the defaults with
    // Damaged set when it is damaged (the damaged file is renamed aside and the defaults written).
    TDriverSettings Load();
    // Writes the whole file atomically (platform::ReplaceFileAtomically); false when it cannot be
    // written, when it would be larger than a Load reads, when what is at the path is not a regular
    // file, or when the last Load refused the file.
    bool Save(const TDriverSettings& settings) override;
    std::string SaveProblem() const override { return FSaveProblem; }
    // Takes the lock on "<file>.lock" and reads the file again (SettingsFile.h).
    TLatest Latest() override;
    // Locks "<file>.port<N>.lock" (SettingsFile.h) without waiting: the port is another process's
    // while it holds that lock, and a process that died let it go. A lock file that cannot be used
    // (a folder, a FIFO, another user's file, a dangling link) holds nobody off: refused with why.
    // The lock file goes when the port is released (platform::FileLock::RemoveOnRelease).
    std::shared_ptr<void> HoldPort(std::int32_t port, std::string& problem) override;
    // Why the last Load refused the file (empty when it did not); the defaults were used.
    const std::string& Refusal() const { return FRefusal; }

    static QByteArray ToJson(const TDriverSettings& settings);
    // nullopt, with the reason in problem, when the text is not a valid settings file.
    static std::optional<TDriverSettings> FromJson(const QByteArray& json, QString* problem = nullptr);

private:
    QString PutAside();
    std::filesystem::path FileSystemPath() const;

    QString FPath;
    std::string FRefusal;
    std::string FSaveProblem;
    std::size_t FAsideHash = 0; // the content last put aside, and its copy's name
    QString FAsideName;
};

} // namespace trutina
