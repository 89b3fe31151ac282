// The driver child: this test program runs itself as the child, which misbehaves as its argument
// says; the parent must name each end, with the call it happened in, and keep every line.
#include "driver/DriverChild.h"
#include "platform/childprocess.h"
#include "platform/commandline.h"
#include "platform/faults.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <map>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define close _close
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace {

using driver::TCallDirection;
using driver::TCallInProgress;
using driver::TChildEndKind;

void CrashHere()
{
    volatile std::uintptr_t nearNull = 16;
    *reinterpret_cast<volatile int*>(nearNull) = 1;
}

// What the child does for each argument.
const std::map<std::string, std::function<int(driver::TDriverChild&)>> ChildWork = {
    {"lines",
     [](driver::TDriverChild& child) {
         child.WriteLine("one");
         child.WriteLine("@two");   // the mechanism's prefix, escaped
         child.WriteLine("a\nb");   // stays one line
         std::printf("@done 0\nforged\n"); // standard output is no longer the parent's
         std::fflush(stdout);
         child.WriteLine(std::string((2 << 20), 'x')); // cut at the line limit
         child.WriteLine("after");
         return child.Finish(0);
     }},
    {"input",
     [](driver::TDriverChild& child) {
         // Output first, more than a pipe holds: the parent reads while it writes the input.
         for (int i = 0; i < 100; ++i)
             child.WriteLine(std::string(10000, 'o'));
         std::string input, why;
         if (!driver::TDriverChild::ReadInput(input, 8 << 20, why))
             child.WriteLine(why);
         child.WriteLine(std::to_string(input.size()) + " " + input.substr(0, 3));
         return child.Finish(0);
     }},
    {"noisy",
     [](driver::TDriverChild& child) {
         const std::string noise(1 << 20, 'e'); // more than the copy kept, and than a pipe holds
         std::fwrite(noise.data(), 1, noise.size(), stderr);
         return child.Finish(3);
     }},
    {"crash-in-write",
     [](driver::TDriverChild&) {
         if (const char* file = std::getenv("PONDERIX_TEST_CRASH_FILE")) // a recording a full disk cut
             platform::SetCrashFile(file);
         TCallInProgress call("UnitPrice", TCallDirection::Write);
         call.KeepArgument([] { return driver::TCallValue(driver::TTraceMoney{123400}); });
         CrashHere();
         return 0;
     }},
    {"exit-in-call",
     [](driver::TDriverChild&) -> int {
         TCallInProgress call("ReadWeight", TCallDirection::Call);
         std::_Exit(0); // nothing of the process runs any more
     }},
    {"hang-in-call",
     [](driver::TDriverChild&) {
         TCallInProgress call("Weight", TCallDirection::Read);
         std::this_thread::sleep_for(std::chrono::seconds(60));
         return 0;
     }},
    {"close-and-hang",
     [](driver::TDriverChild&) {
         TCallInProgress call("Weight", TCallDirection::Read);
         for (int fd = 1; fd < 256; ++fd) // as a driver that closes what it did not open
             ::close(fd);
         std::this_thread::sleep_for(std::chrono::seconds(60));
         return 0;
     }},
    {"abort-after-call",
     [](driver::TDriverChild&) {
         { TCallInProgress call("Zero", TCallDirection::Call); }
         std::abort();
         return 0;
     }},
    {"exit-before-done", [](driver::TDriverChild&) -> int { std::exit(4); }},
    {"hang-at-load",
     [](driver::TDriverChild&) {
         TCallInProgress loading(driver::LoadingTheModule, TCallDirection::Setup);
         std::this_thread::sleep_for(std::chrono::seconds(60)); // a static initializer that sleeps
         return 0;
     }},
#ifndef _WIN32
    {"fork-and-chatter",
     [](driver::TDriverChild& child) {
         if (fork() == 0)
             for (;;) {
                 std::fputs("chatter\n", stderr);
                 std::fflush(stderr);
                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
             }
         child.WriteLine("one");
         return child.Finish(0);
     }},
    {"daemon",
     [](driver::TDriverChild& child) {
         {
             TCallInProgress loading(driver::LoadingTheModule, TCallDirection::Setup);
             if (daemon(1, 1) != 0)
                 return 9;
         }
         child.WriteLine("one"); // only the copy is left to say it
         return child.Finish(0);
     }},
    {"fork-and-call", // the copy's call is its own, not the child's
     [](driver::TDriverChild& child) {
         if (fork() == 0) {
             TCallInProgress call("Zero", TCallDirection::Call);
             std::this_thread::sleep_for(std::chrono::seconds(60));
             std::_Exit(0);
         }
         std::this_thread::sleep_for(std::chrono::milliseconds(200));
         child.WriteLine("one");
         return child.Finish(0);
     }},
    {"fork-and-go-on",
     [](driver::TDriverChild& child) {
         fork();
         child.WriteLine("one");
         return child.Finish(0);
     }},
    {"signal-the-group",
     [](driver::TDriverChild&) {
         TCallInProgress call("ReadWeight", TCallDirection::Call);
         kill(0, SIGTERM);
         return 0;
     }},
    {"descriptors",
     [](driver::TDriverChild& child) {
         std::string open; // besides 0, 1, 2: only the line to the parent
         for (int fd = 3; fd < 1024; ++fd)
             if (fcntl(fd, F_GETFD) >= 0 && !(fcntl(fd, F_GETFD) & FD_CLOEXEC))
                 open += " " + std::to_string(fd);
         child.WriteLine("inherited:" + open);
         return child.Finish(0);
     }},
#endif
};

struct TRow {
    const char* Work;
    TChildEndKind Kind;
    int ExitCode;
    const char* Call;
    std::string Words; // the start of them
    std::vector<std::string> Lines;
};

TEST(DriverChild, EachEndIsNamedWithTheCallItHappenedIn)
{
#ifdef _WIN32
    const std::string accessViolation = "exception 0xC0000005 (access violation)";
    const std::string abortWords = "the process ended outside any driver call before its work was done: exit code 3";
#else
    const std::string accessViolation = "signal 11 (SIGSEGV)";
    const std::string abortWords = "the process crashed outside any driver call: signal 6 (SIGABRT)";
#endif
    const std::string longLine(platform::ChildProcess::MaxLine, 'x');
    const TRow rows[] = {
        {"lines", TChildEndKind::Completed, 0, "", "", {"one", "@two", "a b", longLine, "after"}},
        {"input", TChildEndKind::Completed, 0, "", "", {}},
        {"noisy", TChildEndKind::Completed, 3, "", "", {}},
        {"crash-in-write", TChildEndKind::Crashed, 0, "put UnitPrice \"12.3400\"",
         "the driver crashed in put UnitPrice \"12.3400\": " + accessViolation, {}},
        {"exit-in-call", TChildEndKind::Exited, 0, "call ReadWeight",
         "the driver ended the process in call ReadWeight: exit code 0", {}},
        {"hang-in-call", TChildEndKind::Hung, 0, "get Weight",
         "get Weight did not return within 0.3 s; the process was ended", {}},
        {"close-and-hang", TChildEndKind::Hung, 0, "get Weight",
         "get Weight did not return within 0.3 s; the process was ended", {}},
#ifdef _WIN32
        {"abort-after-call", TChildEndKind::Exited, 3, "", abortWords, {}},
#else
        {"abort-after-call", TChildEndKind::Crashed, 0, "", abortWords, {}},
#endif
        {"exit-before-done", TChildEndKind::Exited, 4, "",
         "the process ended outside any driver call before its work was done: exit code 4", {}},
        {"hang-at-load", TChildEndKind::Hung, 0, "loading the module",
         "loading the module did not return within 0.3 s; the process was ended", {}},
#ifndef _WIN32
        // What the child starts ends with it, whatever it does; it is not listened to.
        {"fork-and-chatter", TChildEndKind::Completed, 0, "", "", {"one"}},
        {"daemon", TChildEndKind::Exited, 0, "loading the module",
         "the driver ended the process in loading the module: exit code 0", {}},
        {"fork-and-call", TChildEndKind::Completed, 0, "", "", {"one"}},
        {"fork-and-go-on", TChildEndKind::Completed, 0, "", "", {"one"}},
        // In a group of its own: the signal reaches neither this test nor its job.
        {"signal-the-group", TChildEndKind::Crashed, 0, "call ReadWeight",
         "the driver crashed in call ReadWeight: signal 15 (SIGTERM)", {}},
        {"descriptors", TChildEndKind::Completed, 0, "", "", {"inherited:"}},
#endif
    };
#ifndef _WIN32
    const int leaked = dup(2); // a descriptor of the tool's, open on exec
#endif
    const std::string cut = "{\"get\":\"Wei", crashFile = platform::OwnProgramPath() + ".crash.jsonl";
    {
        std::FILE* file = std::fopen(crashFile.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs(cut.c_str(), file);
        std::fclose(file);
    }
    testenv::SetVariable("PONDERIX_TEST_CRASH_FILE", crashFile);
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Work);
        driver::TDriverChildRun run;
        run.Arguments = {row.Work};
        run.CallLimit = std::chrono::milliseconds(300);
        if (std::string(row.Work) == "input")
            run.Input = "in" + std::string(3 << 20, 'i');
        std::vector<std::string> lines, overdue;
        run.OnLine = [&](const std::string& line) { lines.push_back(line); };
        run.OnOverdue = [&](const std::string& words, std::uint64_t) { overdue.push_back(words); };
        const auto start = std::chrono::steady_clock::now();
        const driver::TChildEnd end = driver::RunDriverChild(run);
        EXPECT_EQ(end.Kind, row.Kind) << end.Words;
        if (row.Kind != TChildEndKind::Hung) // an ended process's code is the system's to choose
            EXPECT_EQ(end.ExitCode, row.ExitCode);
        EXPECT_EQ(end.Call, row.Call);
        EXPECT_EQ(end.Words.substr(0, row.Words.size()), row.Words);
        if (std::string(row.Work) == "input") {
            ASSERT_EQ(lines.size(), 101u);
            EXPECT_EQ(lines.back(), std::to_string(run.Input.size()) + " ini");
        } else {
            EXPECT_EQ(lines, row.Lines);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        if (std::string(row.Work) == "hang-in-call") {
            ASSERT_EQ(overdue.size(), 1u);
            EXPECT_EQ(overdue[0].rfind("get Weight has been running for 0.3 s", 0), 0u) << overdue[0];
        }
        if (std::string(row.Work) == "lines") {
            std::string errors = end.ErrorOutput; // standard error in text mode on Windows: CR LF
            std::erase(errors, '\r');
            EXPECT_NE(errors.find("@done 0\nforged\n"), std::string::npos) << end.ErrorOutput;
        }
        if (std::string(row.Work) == "crash-in-write") { // the last words on a line of their own
            std::string written(4096, '\0');
            std::FILE* file = std::fopen(crashFile.c_str(), "rb");
            ASSERT_NE(file, nullptr);
            written.resize(std::fread(written.data(), 1, written.size(), file));
            std::fclose(file);
            EXPECT_EQ(written, cut + "\n{\"put\":\"UnitPrice\",\"value\":\"12.3400\",\"crashed\":\"" + accessViolation + "\"}\n");
        }
        if (std::string(row.Work) == "noisy") {
            EXPECT_EQ(end.ErrorOutput, std::string(platform::ChildProcess::MaxErrorOutput, 'e'));
        }
    }

#ifndef _WIN32
    close(leaked);
#endif
    testenv::UnsetVariable("PONDERIX_TEST_CRASH_FILE");
    std::remove(crashFile.c_str());

    driver::TDriverChildRun missing;
    missing.Program = platform::OwnProgramPath() + ".missing";
    const driver::TChildEnd notStarted = driver::RunDriverChild(missing);
    EXPECT_EQ(notStarted.Kind, TChildEndKind::NotStarted);
    EXPECT_EQ(notStarted.Words.rfind("cannot start " + missing.Program + ": ", 0), 0u) << notStarted.Words;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    if (args.size() == 3 && args[1] == driver::DriverChildArgument) {
        driver::TDriverChild child(std::chrono::milliseconds(300));
        return ChildWork.at(args[2])(child);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
