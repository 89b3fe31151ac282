// The substitute driver's settings file while the process writing it is killed, many times at
// random moments: the file is always whole, and it holds the last change whose write completed
// (or the one being written when the kill came, if that had already replaced the file).
#include "simulator/SettingsStore.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace trutina;

namespace {

constexpr int Rounds = 40;

TDriverSettings WithMarker(int marker)
{
    TDriverSettings s = TDriverSettings::Defaults();
    s.Timeout = MinTimeout + marker; // the change number, inside the valid range
    return s;
}

// In the child: writes change after change, reporting each completed one on the pipe.
[[noreturn]] void WriteForever(const QString& path, int reportFd, int first)
{
    TSettingsStore store(path);
    for (int marker = first;; ++marker) {
        if (!store.Save(WithMarker(marker)))
            _exit(3);
        if (write(reportFd, &marker, sizeof marker) != sizeof marker)
            _exit(4);
    }
}

// The last change the child reported complete, or first - 1 when none.
int LastReported(int readFd, int first)
{
    int last = first - 1;
    int marker = 0;
    while (read(readFd, &marker, sizeof marker) == sizeof marker)
        last = marker;
    return last;
}

TEST(SettingsKillTest, AWriterKilledAtAnyMomentLeavesTheWholeFileWithTheLastCompletedChange)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("trutina.json");
    ASSERT_TRUE(TSettingsStore(path).Save(WithMarker(0)));
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> pause(1'000, 30'000); // microseconds
    int first = 1;
    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(report[0]);
            WriteForever(path, report[1], first);
        }
        close(report[1]);
        // The pause starts once the writer has written: on a slow machine a pause from the fork
        // could end before the first write, and the round would test nothing.
        int firstDone = 0;
        ASSERT_EQ(read(report[0], &firstDone, sizeof firstDone), static_cast<ssize_t>(sizeof firstDone))
            << "the writer never wrote";
        usleep(pause(random));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;
        const int last = LastReported(report[0], firstDone + 1);
        close(report[0]);

        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QString problem;
        const auto loaded = TSettingsStore::FromJson(file.readAll(), &problem);
        ASSERT_TRUE(loaded.has_value()) << problem.toStdString();
        const int kept = loaded->Timeout - MinTimeout;
        EXPECT_TRUE(kept == last || kept == last + 1) << "kept change " << kept << ", last completed " << last;
        first = std::max(last, kept) + 1;
    }
}

} // namespace
