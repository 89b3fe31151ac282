// The settings file: round trip, location, a damaged file put aside with the defaults used, and
// paths that are no settings file (not a regular file, unreadable, too large) left as they are.
#include "simulator/SettingsStore.h"

#include "platform/filelock.h"
#include "runtime/utf.h"
#include "simulator/SettingsFile.h"

#include "SampleSettings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>

#include "TestEnv.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace trutina;

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}


TEST(SettingsStoreTest, EverySettingSurvivesTheFile)
{
    QTemporaryDir dir;
    TSettingsStore store(dir.filePath("sub/folder/trutina.json"));
    ASSERT_TRUE(store.Save(testenv::SampleSettings()));
    const TDriverSettings back = store.Load();
    EXPECT_TRUE(back == testenv::SampleSettings());
    EXPECT_FALSE(back.Damaged);
}

TEST(SettingsStoreTest, MissingFileGivesOneDefaultDeviceAndWritesNothing)
{
    QTemporaryDir dir;
    TSettingsStore store(dir.filePath("trutina.json"));
    const TDriverSettings s = store.Load();
    ASSERT_EQ(s.Devices.size(), 1u);
    EXPECT_EQ(s.Devices[0].Number, 1);
    EXPECT_EQ(s.Devices[0].Name, u"Весы 1");
    EXPECT_FALSE(s.Damaged);
    EXPECT_FALSE(QFile::exists(store.Path()));
}

TEST(SettingsStoreTest, DamagedFileIsPutAsideUnchangedAndTheDefaultsWrittenWithTheNotice)
{
    const QByteArray damaged[] = {
        "{\"devices\": [{\"number\": 1, \"name\": \"x\"",                     // cut short
        "[1, 2, 3]",                                                          // not an object
        "{\"devices\": \"none\"}",                                            // wrong kind
        "{\"devices\": [{\"number\": 1, \"port\": \"1\"}]}",                  // text for a number
        "{\"devices\": [{\"number\": 1, \"baudRate\": 6}]}",                  // unknown code
        "{\"devices\": [{\"number\": 1}, {\"number\": 1}]}",                  // number twice
        "{\"devices\": []}",                                                  // no device
        "{\"currentDevice\": 5, \"devices\": [{\"number\": 1}]}",             // no such current
        "{\"devices\": [{\"number\": 1, \"loadProfile\": \"nowhere\"}]}",     // unknown profile
        "{\"devices\": [{\"number\": 1.5}]}",                                 // not whole
        "{\"format\": 9, \"devices\": [{\"number\": 1}]}",                    // unknown format
        "{\"weightStep\": 1e400, \"devices\": [{\"number\": 1}]}",            // beyond a double
        "{\"devices\": [{\"number\": 1, \"port\": -1e999}]}",                 // beyond a double
        "{\"weightStep\": 1001, \"devices\": [{\"number\": 1}]}",             // more than the driver takes
        "{\"devices\": [{\"number\": 1}], \"loadProfiles\": {\"p\": {\"steps\": [{\"at\": 1e300}]}}}",
        "{\"devices\": [{\"number\": 1}], \"loadProfiles\": {\"p\": {\"loopMs\": 1e300}}}",
        "{\"devices\": [{\"number\": 1}], \"loadProfiles\": {\"p\": {\"steps\": [{\"load\": 1e13}]}}}",
        "{\"simulatedMsPerReading\": 60001, \"devices\": [{\"number\": 1}]}",      // a minute at most
        "{\"simulatedMsPerReading\": -1, \"devices\": [{\"number\": 1}]}",
        "{\"devices\": [{\"number\": 1}], \"loadProfiles\": {\"p\": {\"steps\": [{\"refuse\": 5}]}}}",   // not a code
        "{\"devices\": [{\"number\": 1}], \"loadProfiles\": {\"p\": {\"steps\": [{\"refuse\": -1, \"refuseCount\": 0}]}}}",
        "{\"devices\": [{\"number\": 1}], \"loadProfiles\": {\"p\": {\"steps\": [{\"refuse\": -1, \"refuseCount\": 1001}]}}}",
    };
    for (const QByteArray& bytes : damaged) {
        SCOPED_TRACE(bytes.toStdString());
        QTemporaryDir dir;
        TSettingsStore store(dir.filePath("trutina.json"));
        WriteAll(store.Path(), bytes);
        const TDriverSettings s = store.Load();
        EXPECT_EQ(s.Devices.size(), 1u);
        ASSERT_TRUE(s.Damaged);
        EXPECT_EQ(s.Damaged->KeptAs.rfind("trutina.json.damaged-", 0), 0u);
        EXPECT_EQ(ReadAll(dir.filePath(QString::fromStdString(s.Damaged->KeptAs))), bytes);
        // The new file holds the defaults and the notice, for whichever instance reports it.
        const auto written = TSettingsStore::FromJson(ReadAll(store.Path()));
        ASSERT_TRUE(written.has_value());
        EXPECT_EQ(written->Damaged, s.Damaged);
    }
}

// A mistake in a hand-written file is named (the key or line, what was expected) by the file check
// and by the first call, whatever its result.
TEST(SettingsStoreTest, AMistakeInTheFileIsNamedByTheCheckAndByTheFirstCall)
{
    struct Row {
        const char* Text;
        const char* Named;
    };
    for (const Row& row : {Row{"{\"timeout\": 1000,\n \"devices\": [}", "строка 2"},
                           Row{R"({"devices": [{"number": 1, "port": "COM1"}]})", "devices[0].port"},
                           Row{R"({"devices": [{"number": 1, "model": 4}]})", "devices[0].model"},
                           Row{R"({"devices": [{"number": 1}], "loadProfiles": {"p": {"steps": [{"at": 0, "refuseOperations": ["ReadWeigth"]}]}}})",
                               "loadProfiles.p.steps[0].refuseOperations"}}) {
        SCOPED_TRACE(row.Text);
        QTemporaryDir dir;
        TSettingsStore store(dir.filePath("trutina.json"));
        WriteAll(store.Path(), row.Text);
        const std::string checked = CheckSettingsFile(QFile::encodeName(store.Path()).toStdString());
        EXPECT_NE(checked.find(row.Named), std::string::npos) << checked;
        TManualClock clock;
        TScaleDriver driver(store.Load(), &store, clock);
        EXPECT_EQ(driver.ReadWeight(), TResult::DeviceNotEnabled); // the defaults: switched off
        EXPECT_NE(runtime::Utf16ToUtf8(driver.ResultDescription()).find(checked), std::string::npos);
    }
}

TEST(SettingsStoreTest, SecondDamageInTheSameSecondGetsItsOwnCopy)
{
    QTemporaryDir dir;
    TSettingsStore store(dir.filePath("trutina.json"));
    WriteAll(store.Path(), "first");
    const std::string first = store.Load().Damaged.value_or(TSettingsDamage{}).KeptAs;
    WriteAll(store.Path(), "second");
    const std::string second = store.Load().Damaged.value_or(TSettingsDamage{}).KeptAs;
    EXPECT_NE(first, second);
    EXPECT_EQ(ReadAll(dir.filePath(QString::fromStdString(first))), "first");
    EXPECT_EQ(ReadAll(dir.filePath(QString::fromStdString(second))), "second");
    // The same damaged content again is not put aside a second time.
    WriteAll(store.Path(), "second");
    EXPECT_EQ(store.Load().Damaged.value_or(TSettingsDamage{}).KeptAs, second);
    EXPECT_EQ(QDir(dir.path()).entryList({"trutina.json.damaged-*"}).size(), 2);
}

TEST(SettingsStoreTest, LocationComesFromTheEnvironmentElseTheUserConfigFolder)
{
    const char* previous = std::getenv("TRUTINA_SETTINGS");
    const std::string saved = previous ? previous : "";
    testenv::SetVariable("TRUTINA_SETTINGS", "/tmp/elsewhere/t.json");
    EXPECT_EQ(TSettingsStore::DefaultPath(), QStringLiteral("/tmp/elsewhere/t.json"));
    testenv::UnsetVariable("TRUTINA_SETTINGS");
    EXPECT_TRUE(TSettingsStore::DefaultPath().endsWith(QStringLiteral("/ponderix/trutina.json")));
    if (previous)
        testenv::SetVariable("TRUTINA_SETTINGS", saved);
}

#ifndef _WIN32 // Windows keeps the settings under APPDATA, not the XDG folders
// A relative XDG_CONFIG_HOME is invalid: ignored, as for the class registry, never a folder under
// the current one.
TEST(SettingsStoreTest, RelativeConfigHomeIsIgnored)
{
    testenv::UnsetVariable("TRUTINA_SETTINGS");
    testenv::SetVariable("XDG_CONFIG_HOME", "relcfg");
    testenv::SetVariable("HOME", "/home/operator");
    EXPECT_EQ(TSettingsStore::DefaultPath(), QStringLiteral("/home/operator/.config/ponderix/trutina.json"));
}
#else
TEST_ELSEWHERE(SettingsStoreTest, RelativeConfigHomeIsIgnored,
               "Windows keeps the settings under APPDATA, not the XDG folders")
#endif

TEST(SettingsStoreTest, UnwritableLocationFailsWithoutTouchingWhatIsThere)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("trutina.json"); // a folder where the file should be
    TSettingsStore store(dir.filePath("trutina.json"));
    EXPECT_FALSE(store.Save(testenv::SampleSettings()));
    EXPECT_TRUE(QFileInfo(store.Path()).isDir());
}

#ifndef _WIN32 // the writer is a fork of this process, which Windows cannot make
TEST(SettingsStoreTest, AProcessKilledWhileWritingLeavesACompleteFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("trutina.json");
    TDriverSettings a = testenv::SampleSettings();
    TDriverSettings b = TDriverSettings::Defaults();
    ASSERT_TRUE(TSettingsStore(path).Save(a));
    for (int round = 0; round < 5; ++round) {
        int written[2];
        ASSERT_EQ(pipe(written), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(written[0]);
            TSettingsStore store(path);
            for (int i = 0;; ++i) {
                store.Save(i % 2 ? a : b);
                if (i == 0) { // the parent kills only a child that has written
                    const char one = 1;
                    (void)!write(written[1], &one, 1);
                    close(written[1]);
                }
            }
        }
        close(written[1]);
        char one = 0;
        ASSERT_EQ(read(written[0], &one, 1), 1) << "the child never wrote";
        close(written[0]);
        usleep(round * 17'000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const auto loaded = TSettingsStore::FromJson(ReadAll(path));
        ASSERT_TRUE(loaded.has_value()) << "round " << round;
        EXPECT_TRUE(*loaded == a || *loaded == b);
    }
}
#else
TEST_ELSEWHERE(SettingsStoreTest, AProcessKilledWhileWritingLeavesACompleteFile,
               "the writer is a fork of this process, which Windows cannot make")
#endif

// Another holder keeps the lock (a stopped process): the change is refused, not written over by
// the holder's older copy later.
TEST(SettingsStoreTest, AChangeIsRefusedWhileAnotherHolderKeepsTheLock)
{
    QTemporaryDir dir;
    TSettingsStore store(dir.filePath("trutina.json"));
    ASSERT_TRUE(store.Save(TDriverSettings::Defaults()));
    const QByteArray before = ReadAll(store.Path());
    TManualClock clock;
    TScaleDriver driver(store.Load(), &store, clock);
    {
        platform::FileLock held(QFile::encodeName(store.Path()).toStdString() + ".lock", 0);
        ASSERT_TRUE(held.Locked());
        EXPECT_EQ(driver.SetPortNumber(5), TResult::SettingsLocked);
        EXPECT_EQ(driver.PortNumber(), 1);
        EXPECT_EQ(ReadAll(store.Path()), before);
    }
    EXPECT_EQ(driver.SetPortNumber(5), TResult::Ok); // the holder gone, the change goes through
}

// A switched-on device holds its port against another object of the process and another process
// (a holder of the lock beside the settings file, as a process holding the port has it): a device
// on that port cannot be switched on (-26) until the holder goes.
TEST(SettingsStoreTest, APortHeldByAnotherObjectOrProcessIsRefused)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("trutina.json");
    TDriverSettings file = TDriverSettings::Defaults();
    file.Devices.push_back(file.Devices[0]);
    file.Devices[1].Number = 2; // on port 1 as well
    ASSERT_TRUE(TSettingsStore(path).Save(file));
    TManualClock clock;
    TSettingsStore store(path), otherStore(path);
    TScaleDriver driver(store.Load(), &store, clock);
    ASSERT_EQ(driver.SetCurrentDeviceNumber(2), TResult::Ok);
    for (const bool process : {false, true}) {
        SCOPED_TRACE(process);
        std::optional<TScaleDriver> other;
        std::optional<platform::FileLock> held;
        if (process) {
            held.emplace(QFile::encodeName(path).toStdString() + ".port1.lock", 0);
        } else { // device 1 switched on
            other.emplace(otherStore.Load(), &otherStore, clock);
            ASSERT_EQ(other->SetCurrentDeviceNumber(1), TResult::Ok);
            ASSERT_EQ(other->SetDeviceEnabled(true), TResult::Ok);
        }
        EXPECT_EQ(driver.SetDeviceEnabled(true), TResult::PortBusy);
        EXPECT_FALSE(driver.DeviceEnabled());
        other.reset();
        held.reset();
        EXPECT_EQ(driver.SetDeviceEnabled(true), TResult::Ok);
        ASSERT_EQ(driver.SetDeviceEnabled(false), TResult::Ok);
        EXPECT_FALSE(QFileInfo::exists(path + ".port1.lock")); // released: its lock file goes
    }
    // Refused a device another object switched on (on in the file): off in this program.
    TScaleDriver other(otherStore.Load(), &otherStore, clock);
    ASSERT_EQ(other.SetCurrentDeviceNumber(1), TResult::Ok);
    ASSERT_EQ(other.SetDeviceEnabled(true), TResult::Ok);
    ASSERT_EQ(driver.SetCurrentDeviceNumber(1), TResult::Ok);
    EXPECT_FALSE(driver.DeviceEnabled()); // before the refusal too: a refused write changes nothing
    EXPECT_EQ(driver.SetDeviceEnabled(true), TResult::PortBusy);
    EXPECT_FALSE(driver.DeviceEnabled());
}

// A change that cannot be written says why with -19; a lock file that cannot be used is nobody's
// lock (not -24): the change is made, not written, and the reason said.
TEST(SettingsStoreTest, AChangeThatCannotBeWrittenSaysWhy)
{
    const struct {
        const char* Folder; // made where a file should be
        const char* Said;
    } rows[] = {{"trutina.json.lock", "trutina.json.lock"}, {"trutina.json", "не обычный файл"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Folder);
        QTemporaryDir dir;
        TSettingsStore store(dir.filePath("trutina.json"));
        ASSERT_TRUE(store.Save(TDriverSettings::Defaults()));
        TManualClock clock;
        TScaleDriver driver(store.Load(), &store, clock);
        QFile::remove(dir.filePath(row.Folder));
        ASSERT_TRUE(QDir(dir.path()).mkpath(QString(row.Folder) + "/kept"));
        EXPECT_EQ(driver.SetPortNumber(5), TResult::SettingsNotSaved);
        EXPECT_EQ(driver.PortNumber(), 5);
        const std::string said = runtime::Utf16ToUtf8(driver.ResultDescription());
        EXPECT_EQ(said.rfind(ResultDescription(TResult::SettingsNotSaved) + " (", 0), 0u) << said;
        EXPECT_NE(said.find(row.Said), std::string::npos) << said;
    }
}

#ifndef _WIN32
// Two processes adding devices at once over one file: each addition is made under the file's lock
// on the latest settings, so none is lost and no number is given twice.
TEST(SettingsStoreTest, TwoProcessesChangingAtOnceKeepEveryChange)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("trutina.json");
    constexpr int PerProcess = 20;
    auto addDevices = [&] {
        TSettingsStore store(path);
        TManualClock clock;
        TScaleDriver driver(store.Load(), &store, clock);
        int added = 0;
        for (int i = 0; i < PerProcess; ++i) {
            std::int32_t number = 0;
            added += driver.AddDevice(number) == TResult::Ok;
        }
        return added;
    };
    ASSERT_TRUE(TSettingsStore(path).Save(TDriverSettings::Defaults()));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(addDevices() == PerProcess ? 0 : 1);
    EXPECT_EQ(addDevices(), PerProcess);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto loaded = TSettingsStore::FromJson(ReadAll(path));
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->Devices.size(), 1u + 2 * PerProcess);
}
#else
TEST_ELSEWHERE(SettingsStoreTest, TwoProcessesChangingAtOnceKeepEveryChange,
               "the writers are forks of this process, which Windows cannot make")
#endif

// ------------------------------------------------------------------ files that are not settings files
#ifndef _WIN32 // pipes, device nodes, links, file modes and other users: POSIX file system notions

// The names in the folder, with their kind and identity: what a store must leave as it is.
std::vector<std::string> Listing(const QString& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString())) {
        struct stat st {};
        lstat(entry.path().c_str(), &st);
        names.push_back(entry.path().filename().string() + " " + std::to_string(st.st_mode) + " " +
                        std::to_string(st.st_ino) + " " + std::to_string(st.st_size));
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SettingsStoreTest, APathThatIsNotARegularFileIsRefusedNeverReadMovedOrReplaced)
{
    struct Case {
        const char* Kind;
        std::function<bool(const std::string& path, const std::string& folder)> Make; // false: cannot here
        const char* Said = ": это не обычный файл";
    };
    // Another user's file or link: only root makes one (errno says why it was not made).
    auto theirs = [](const std::string& path, bool link) {
        if (geteuid() != 0)
            return errno = EPERM, false;
        const std::string file = link ? path + ".theirs" : path;
        WriteAll(QString::fromStdString(file), link ? QByteArray("{damaged") : TSettingsStore::ToJson(testenv::SampleSettings()));
        if (link && symlink(file.c_str(), path.c_str()) != 0)
            return false;
        return (link ? lchown(path.c_str(), 65534, 65534) : chown(path.c_str(), 65534, 65534)) == 0;
    };
    // Every kind of node is the safe-file service's table (tests/platform/test_safefile.cpp); these
    // show that the settings file is read and written through it.
    const Case cases[] = {
        {"pipe", [](const std::string& path, const std::string&) { return mkfifo(path.c_str(), 0600) == 0; }},
        {"another user's valid file", [&](const std::string& path, const std::string&) { return theirs(path, false); },
         ": файл другого пользователя"},
        {"a damaged file through another user's link", // not put aside there
         [&](const std::string& path, const std::string&) { return theirs(path, true); },
         ": путь идёт через символическую ссылку другого пользователя"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("trutina.json");
        if (!c.Make(path.toStdString(), dir.path().toStdString())) {
            std::printf("[  SKIPPED ] %s: cannot be made here (%s)\n", c.Kind, std::strerror(errno));
            continue;
        }
        const auto before = Listing(dir.path());
        TSettingsStore store(path);
        EXPECT_EQ(store.Load(), TDriverSettings::Defaults());
        EXPECT_NE(store.Refusal().find(path.toStdString() + c.Said), std::string::npos) << store.Refusal();
        EXPECT_FALSE(store.Save(testenv::SampleSettings()));
        EXPECT_EQ(Listing(dir.path()), before);
    }
}

TEST(SettingsStoreTest, ALinkToARegularFileIsReadAndWrittenThroughAndStaysALink)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("real.json");
    WriteAll(target, TSettingsStore::ToJson(testenv::SampleSettings()));
    const QString path = dir.filePath("trutina.json");
    ASSERT_EQ(symlink("real.json", path.toLocal8Bit().constData()), 0);
    TSettingsStore store(path);
    EXPECT_EQ(store.Load(), testenv::SampleSettings());
    EXPECT_TRUE(store.Refusal().empty());
    ASSERT_TRUE(store.Save(TDriverSettings::Defaults()));
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_EQ(TSettingsStore::FromJson(ReadAll(target)), TDriverSettings::Defaults());

    // Damaged: the file the link names is put aside and replaced; the link stays.
    WriteAll(target, "{damaged");
    const std::optional<TSettingsDamage> damage = store.Load().Damaged;
    ASSERT_TRUE(damage);
    EXPECT_EQ(ReadAll(QString::fromStdString(damage->KeptAs)), "{damaged");
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_EQ(TSettingsStore::FromJson(ReadAll(target))->Damaged, damage);
}

// A file that cannot be read is no damaged file: it is reported and kept as it is. Root reads
// every file, so as root the store runs in a child that has become the user nobody.
TEST(SettingsStoreTest, AFileThatCannotBeReadIsReportedAndNeitherRenamedNorReplaced)
{
    QTemporaryDir dir;
    ASSERT_EQ(chmod(dir.path().toLocal8Bit().constData(), 0777), 0); // whoever runs it could rename
    const QString path = dir.filePath("trutina.json");
    const QByteArray kept = TSettingsStore::ToJson(testenv::SampleSettings());
    WriteAll(path, kept);
    ASSERT_EQ(chmod(path.toLocal8Bit().constData(), 0), 0);
    const auto before = Listing(dir.path());
    // 0: as expected; 1: wrong; 77: could not become nobody.
    auto check = [&]() -> int {
        TSettingsStore store(path);
        const bool defaults = store.Load() == TDriverSettings::Defaults();
        const bool said = store.Refusal() == path.toStdString() + ": нет прав на чтение";
        const bool written = store.Save(testenv::SampleSettings());
        if (!defaults || !said || written)
            std::fprintf(stderr, "defaults %d, refusal \"%s\", written %d\n", defaults, store.Refusal().c_str(), written);
        return defaults && said && !written ? 0 : 1;
    };
    int result = 0;
    if (geteuid() != 0) {
        result = check();
    } else {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(77);
            _exit(check());
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        result = WEXITSTATUS(status);
        if (result == 77)
            GTEST_SKIP() << "running as root and the user nobody (65534) cannot be taken";
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Listing(dir.path()), before);
    ASSERT_EQ(chmod(path.toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(ReadAll(path), kept);
}

// A port's lock file that cannot be locked keeps nobody off the port: switching a device on is
// refused with -19 saying why and where, not taken for a busy port (-26, for ever) nor let through
// (a dangling link: two processes on one port). Another user's file needs root to be made.
TEST(SettingsStoreTest, APortLockFileThatCannotBeUsedRefusesTheSwitchOnAndSaysWhy)
{
    const struct {
        const char* Kind;
        std::function<int(const char* lock)> Make; // 0 on success
    } rows[] = {
        {"folder", [](const char* lock) { return mkdir(lock, 0700); }},
        {"pipe", [](const char* lock) { return mkfifo(lock, 0600); }},
        {"dangling link", [](const char* lock) { return symlink("gone", lock); }},
        {"another user's file", [](const char* lock) {
             const int fd = open(lock, O_CREAT | O_WRONLY, 0600);
             return fd < 0 ? -1 : close(fd) | chown(lock, 65534, 65534);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Kind);
        if (std::string(row.Kind) == "another user's file" && geteuid() != 0) {
            std::printf("[  SKIPPED ] %s: only root can give a file to another user\n", row.Kind);
            continue;
        }
        QTemporaryDir dir;
        const QString path = dir.filePath("trutina.json");
        const std::string lock = QFile::encodeName(path).toStdString() + ".port1.lock";
        ASSERT_EQ(row.Make(lock.c_str()), 0) << std::strerror(errno);
        TManualClock clock;
        TSettingsStore store(path);
        TScaleDriver driver(store.Load(), &store, clock);
        EXPECT_EQ(driver.SetDeviceEnabled(true), TResult::SettingsNotSaved);
        EXPECT_FALSE(driver.DeviceEnabled());
        const std::string said = runtime::Utf16ToUtf8(driver.ResultDescription());
        EXPECT_NE(said.find("блокировка порта 1 недоступна: cannot use " + lock), std::string::npos) << said;
    }
}

#else
TEST_ELSEWHERE(SettingsStoreTest, APathThatIsNotARegularFileIsRefusedNeverReadMovedOrReplaced,
               "pipes, device nodes, links, file modes and other users are POSIX file system notions")
TEST_ELSEWHERE(SettingsStoreTest, ALinkToARegularFileIsReadAndWrittenThroughAndStaysALink,
               "pipes, device nodes, links, file modes and other users are POSIX file system notions")
TEST_ELSEWHERE(SettingsStoreTest, AFileThatCannotBeReadIsReportedAndNeitherRenamedNorReplaced,
               "pipes, device nodes, links, file modes and other users are POSIX file system notions")
TEST_ELSEWHERE(SettingsStoreTest, APortLockFileThatCannotBeUsedRefusesTheSwitchOnAndSaysWhy,
               "pipes, device nodes, links, file modes and other users are POSIX file system notions")
#endif

// A file larger than any settings file is damaged without being read, even when it would parse.
TEST(SettingsStoreTest, AFileBeyondTheSizeLimitIsPutAsideUnread)
{
    QTemporaryDir dir;
    TSettingsStore store(dir.filePath("trutina.json"));
    const QByteArray padded = TSettingsStore::ToJson(testenv::SampleSettings()) +
                              QByteArray(static_cast<qsizetype>(MaxSettingsFileSize), ' ');
    WriteAll(store.Path(), padded);
    const TDriverSettings s = store.Load();
    ASSERT_TRUE(s.Damaged);
    EXPECT_EQ(QFileInfo(dir.filePath(QString::fromStdString(s.Damaged->KeptAs))).size(), padded.size());
    EXPECT_EQ(TSettingsStore::FromJson(ReadAll(store.Path()))->Damaged, s.Damaged);

    // Settings whose file would pass the limit are never written: the next Load would find them
    // damaged. A long profile fits in the compact form; a longer one is refused.
    for (const std::size_t steps : {45000u, 200000u}) {
        TDriverSettings big = testenv::SampleSettings();
        for (std::size_t i = 0; i < steps; ++i)
            big.LoadProfiles["long"].Steps.push_back(TLoadStep{static_cast<TMillis>(i) * 100, 12.5});
        const TDriverSettings before = store.Load();
        const bool saved = store.Save(big);
        EXPECT_LE(QFileInfo(store.Path()).size(), static_cast<qint64>(MaxSettingsFileSize)) << steps;
        EXPECT_EQ(saved, steps == 45000u);
        EXPECT_EQ(store.Load(), saved ? big : before);
    }
}

// What the driver takes as a name the file keeps: up to 64 characters, each of them possibly
// outside the Basic Multilingual Plane (two UTF-16 units).
TEST(SettingsStoreTest, DeviceNamesOfUpTo64CharactersSurviveTheFile)
{
    struct Row {
        std::u16string Name;
        bool Kept;
    };
    auto times = [](std::u16string_view unit, int n) {
        std::u16string text;
        for (int i = 0; i < n; ++i)
            text += unit;
        return text;
    };
    for (const Row& row : {Row{times(u"😀", 40), true}, Row{times(u"😀", 64), true}, Row{times(u"я", 64), true},
                           Row{times(u"😀", 65), false}, Row{times(u"x", 65), false}}) {
        SCOPED_TRACE(row.Name.size());
        QTemporaryDir dir;
        TSettingsStore store(dir.filePath("trutina.json"));
        TDriverSettings s = TDriverSettings::Defaults();
        s.Devices[0].Name = row.Name;
        ASSERT_TRUE(store.Save(s));
        const TDriverSettings back = store.Load();
        EXPECT_EQ(!back.Damaged, row.Kept);
        EXPECT_EQ(back.Devices[0].Name == row.Name, row.Kept);
    }
}

} // namespace
