// The settings file: round trip, location, and a damaged file put aside with the defaults used.
#include "simulator/SettingsStore.h"

#include "SampleSettings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>

#include "TestEnv.h"

#include <csignal>
#include <cstdlib>
#ifndef _WIN32
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
    EXPECT_TRUE(back.DamagedCopy.empty());
}

TEST(SettingsStoreTest, MissingFileGivesOneDefaultDeviceAndWritesNothing)
{
    QTemporaryDir dir;
    TSettingsStore store(dir.filePath("trutina.json"));
    const TDriverSettings s = store.Load();
    ASSERT_EQ(s.Devices.size(), 1u);
    EXPECT_EQ(s.Devices[0].Number, 1);
    EXPECT_EQ(s.Devices[0].Name, u"Весы 1");
    EXPECT_TRUE(s.DamagedCopy.empty());
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
    };
    for (const QByteArray& bytes : damaged) {
        SCOPED_TRACE(bytes.toStdString());
        QTemporaryDir dir;
        TSettingsStore store(dir.filePath("trutina.json"));
        WriteAll(store.Path(), bytes);
        const TDriverSettings s = store.Load();
        EXPECT_EQ(s.Devices.size(), 1u);
        ASSERT_FALSE(s.DamagedCopy.empty());
        EXPECT_EQ(s.DamagedCopy.rfind("trutina.json.damaged-", 0), 0u);
        EXPECT_EQ(ReadAll(dir.filePath(QString::fromStdString(s.DamagedCopy))), bytes);
        // The new file holds the defaults and the notice, for whichever instance reports it.
        const auto written = TSettingsStore::FromJson(ReadAll(store.Path()));
        ASSERT_TRUE(written.has_value());
        EXPECT_EQ(written->DamagedCopy, s.DamagedCopy);
    }
}

TEST(SettingsStoreTest, SecondDamageInTheSameSecondGetsItsOwnCopy)
{
    QTemporaryDir dir;
    TSettingsStore store(dir.filePath("trutina.json"));
    WriteAll(store.Path(), "first");
    const std::string first = store.Load().DamagedCopy;
    WriteAll(store.Path(), "second");
    const std::string second = store.Load().DamagedCopy;
    EXPECT_NE(first, second);
    EXPECT_EQ(ReadAll(dir.filePath(QString::fromStdString(first))), "first");
    EXPECT_EQ(ReadAll(dir.filePath(QString::fromStdString(second))), "second");
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
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TSettingsStore store(path);
            for (int i = 0;; ++i)
                store.Save(i % 2 ? a : b);
        }
        usleep(50'000 + round * 17'000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const auto loaded = TSettingsStore::FromJson(ReadAll(path));
        ASSERT_TRUE(loaded.has_value()) << "round " << round;
        EXPECT_TRUE(*loaded == a || *loaded == b);
    }
}
#endif

} // namespace
