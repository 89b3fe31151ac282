// ponderix-replay against the fake driver: a sitting recorded against the fake replays without a
// difference; each changed answer is reported once, with its line and action; bad recordings
// and drivers that cannot be created end with exit code 2 and the reason.
#include "ReplaySitting.h"
#include "TestEnv.h"
#include "tools/ProgressLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

namespace {

using testsupport::RunReplay;

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The 1-based line of the first line that holds needle.
int LineOf(const std::string& text, const std::string& needle)
{
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.find(needle) != std::string::npos)
            return number;
    }
    return 0;
}

// ---------------------------------------------------------------- the recording's lines

// Every kind of value survives the line it is written to: what is read back is what was called.
TEST(RecordingLine, ReadsBackWhatWasWritten)
{
    using driver::TCallDirection;
    using driver::TDriverCall;
    struct TCase {
        const char* Member;
        TCallDirection Direction;
        driver::TCallValue Value;
        HRESULT Status;
        const char* Text;
    };
    const TCase cases[] = {
        {"DataCount", TCallDirection::Read, std::int32_t(-2147483647 - 1), S_OK, ""},
        {"LockDevices", TCallDirection::Write, driver::TTraceFlag{1}, S_OK, ""}, // a flag as it came, not as -1
        {"Weight", TCallDirection::Read, 0.1 + 0.2, S_OK, ""},
        {"WeightStep", TCallDirection::Write, std::numeric_limits<double>::infinity(), S_OK, ""},
        {"UnitPrice", TCallDirection::Write, driver::TTraceMoney{std::numeric_limits<std::int64_t>::min()}, S_OK, ""},
        {"SalesPrice", TCallDirection::Read, driver::TTraceMoney{-5}, S_OK, ""},
        {"CurrentDeviceName", TCallDirection::Write, std::string("Весы \"1\"\\\n\t"), E_FAIL, "Ошибка\n"},
        {"AddDevice", TCallDirection::Call, std::int32_t(7), S_OK, ""},
        {"Tare", TCallDirection::Call, std::monostate{}, DISP_E_EXCEPTION, "Нет связи с весами"},
    };
    for (const TCase& c : cases) {
        TDriverCall call;
        call.Member = c.Member;
        call.Direction = c.Direction;
        call.Value = c.Value;
        call.Status = c.Status;
        call.StatusText = c.Text;
        const std::string line = driver::RecordingCallLine(call);
        SCOPED_TRACE(line);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        const driver::TRecording read = driver::ParseRecording(
            driver::RecordingHeaderLine({"{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}", "", ""}) + "\n" + line + "\n");
        ASSERT_EQ(read.Steps.size(), 1u);
        const driver::TRecordedStep& step = read.Steps[0];
        EXPECT_STREQ(step.Member->Name, c.Member);
        EXPECT_EQ(step.Direction, c.Direction);
        EXPECT_EQ(driver::FormatTraceValue(step.Value), driver::FormatTraceValue(c.Value));
        EXPECT_EQ(step.Status, c.Status);
        EXPECT_EQ(step.StatusText, c.Text);
        EXPECT_TRUE(step.Checked);
    }
}

// Each bad recording is refused as a whole, naming the line and what is wrong.
TEST(RecordingLine, BadRecordingsAreRefusedWithTheLineAndTheReason)
{
    const std::string header = R"({"format":"ponderix-recording","version":1,"clsid":"{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}"})";
    struct TCase {
        const char* Name;
        std::string Text;
        int Line;
        const char* Reason;
    };
    const TCase cases[] = {
        {"a real beyond a double's range", header + "\n{\"get\":\"Weight\",\"value\":1e400}\n", 2, "beyond the range"},
        {"a time beyond a double's range", header + "\n{\"action\":\"btnTareClick\",\"ms\":1e400}\n", 2, "beyond the range"},
        {"unknown member", header + "\n{\"get\":\"Wieght\",\"value\":1}\n", 2, "unknown member \"Wieght\""},
        {"wrong type", header + "\n{\"get\":\"Weight\",\"value\":\"heavy\"}\n", 2, "Weight takes a real, not a text"},
        {"integer out of range", header + "\n{\"get\":\"DataCount\",\"value\":2147483648}\n", 2,
         "DataCount takes an integer from -2147483648 to 2147483647, not 2147483648"},
        {"a NUL inside a line", header + "\n{\"call\":\"Zero\"}" + std::string(1, '\0') + "{\"call\":\"Zero\"}\n", 2,
         "a NUL character at column 16"},
        {"money with five decimals", header + "\n{\"put\":\"UnitPrice\",\"value\":\"1.00005\"}\n", 2, "at most four decimals"},
        {"unknown format version",
         R"({"format":"ponderix-recording","version":2,"clsid":"{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}"})" "\n", 1,
         "format version 2 is unknown"},
        {"not a recording", "{\"get\":\"Weight\"}\n", 1, "not a recording"},
        {"empty file", "", 1, "the header line is missing"},
        {"broken line in the middle", header + "\n{\"get\" \"Weight\"}\n{\"get\":\"Weight\"}\n", 2, "not a JSON object"},
        {"write to a read-only member", header + "\n{\"put\":\"Weight\",\"value\":1}\n", 2, "Weight is read-only"},
        {"write without its argument", header + "\n{\"put\":\"TareWeight\",\"status\":\"0x00000000\"}\n", 2,
         "needs its argument"},
        {"method read as a property", header + "\n{\"get\":\"ReadWeight\"}\n", 2, "is a method"},
        {"misspelt key", header + "\n{\"get\":\"Weight\",\"valeu\":1}\n", 2, "unknown key \"valeu\""},
        {"status that is no status", header + "\n{\"call\":\"Zero\",\"status\":\"bad\"}\n", 2, "status must be"},
        {"status out of range", header + "\n{\"call\":\"Zero\",\"status\":4294967296}\n", 2,
         "or an integer from -2147483648 to 4294967295, not 4294967296"},
        {"two kinds on one line", header + "\n{\"get\":\"Weight\",\"call\":\"Zero\"}\n", 2, "exactly one of"},
        {"a second sitting", header + "\n" + header + "\n", 2, "a second recording starts here"},
        {"a line after the end", header + "\n{\"end\":\"normal\"}\n{\"call\":\"Zero\"}\n", 3,
         "a line after the sitting's end (line 2)"},
        {"an action before its time", header + "\n{\"action\":\"btnTareClick\",\"ms\":-5}\n", 2,
         "\"ms\" must be a whole number of milliseconds from 0 to 86400000, not -5"},
        {"an unknown expectation", header + "\n{\"get\":\"Weight\",\"expect\":\"heavy\"}\n", 2,
         "unknown expectation \"heavy\""},
        {"an expectation beside a value", header + "\n{\"get\":\"Model\",\"value\":1,\"expect\":\"same\"}\n", 2,
         "an expectation stands instead of a value"},
        {"an unknown expectation of an event", header + "\n{\"event\":\"DataEvent\",\"expect\":\"late\"}\n", 2,
         "unknown expectation \"late\" of an event"},
        {"a write through Invoke", header + "\n{\"put\":\"Model\",\"value\":1,\"through\":\"Invoke\"}\n", 2,
         "only a read is made"},
        {"an action a year after the start", header + "\n{\"action\":\"btnTareClick\",\"ms\":31536000000}\n", 2,
         "\"ms\" is 31536000000, more than a day"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            driver::ParseRecording(c.Text);
            ADD_FAILURE() << "accepted";
        } catch (const driver::ERecordingError& e) {
            EXPECT_EQ(e.Line(), c.Line) << e.Message();
            EXPECT_NE(e.Message().find(c.Reason), std::string::npos) << e.Message();
            EXPECT_EQ(e.Message().rfind("line " + std::to_string(c.Line) + ": ", 0), 0u) << e.Message();
        }
    }
}

// A hand-written script: lines without an expected answer only drive the driver.
TEST(RecordingLine, LinesWithoutAnExpectedAnswerOnlyDrive)
{
    const driver::TRecording read = driver::ParseRecording(
        "{\"format\":\"ponderix-recording\",\"version\":1,\"clsid\":\"{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}\"}\r\n"
        "\n"
        "{\"put\":\"UnitPrice\",\"value\":12.34}\r\n"
        "{\"call\":\"ReadWeight\"}\n"
        "{\"get\":\"Weight\"}"); // the last line may go without its line end when it is whole
    ASSERT_EQ(read.Steps.size(), 3u);
    EXPECT_EQ(driver::FormatTraceValue(read.Steps[0].Value), "12.3400");
    EXPECT_EQ(read.Steps[2].Line, 5);
    for (const driver::TRecordedStep& step : read.Steps)
        EXPECT_FALSE(step.Checked) << step.Line;
}

// ---------------------------------------------------------------- replay against the fake

class ReplayAgainstFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::ScriptSittingDriver();
        FRecording = FEnvironment.Folder() + "/sitting.jsonl";
        FActions = testsupport::RecordSitting(FRecording);
        // The replay starts from the fake's original answers.
        fakedriver::Reset();
        testsupport::ScriptSittingDriver();
    }

    TFakeDriverEnvironment FEnvironment;
    std::string FRecording;
    int FActions = 0;
};

TEST_F(ReplayAgainstFake, TheSameDriverAnswersWithoutADifference)
{
    const auto run = RunReplay({FRecording});
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_EQ(run.Out, std::to_string(FActions + 1) + " passed, 0 failed\n"); // the actions and the start-up
    // The replay made the recorded calls, the data event's included.
    EXPECT_EQ(fakedriver::GetMoney("UnitPrice"), 123400);
}

// Each changed answer: exactly its difference, with the line and the action, exit code 1.
TEST_F(ReplayAgainstFake, AChangedAnswerIsReportedOnceWithItsLineAndAction)
{
    const std::string text = ReadText(FRecording);
    struct TCase {
        const char* Name;
        std::function<void()> Change;
        std::vector<std::string> Options;
        std::string Difference; // the first; empty: none expected
        std::size_t Count = 1;  // differences, all in one action
    };
    const TCase cases[] = {
        {"a real read", [] { fakedriver::SetReal("Weight", 1.3) ; }, {},
         "line " + std::to_string(LineOf(text, "\"get\":\"Weight\"")) +
             " (btnReadWeightClick \"Получить массу\"): get Weight: expected 1.25, got 1.3"},
        {"a real within the tolerance", [] { fakedriver::SetReal("Weight", 1.25 + 1e-12); }, {"--tolerance", "1e-9"}, ""},
        {"a real just outside the tolerance", [] { fakedriver::SetReal("Weight", 1.25 + 1e-6); }, {"--tolerance", "1e-9"},
         "get Weight: expected 1.25, got 1.25000"},
        {"an ignored member", [] { fakedriver::SetReal("Weight", 2); }, {"--ignore", "NonStable,Weight"}, ""},
        {"a text", [] { fakedriver::SetTextUtf8("DeviceName", "Весы"); }, {},
         "(btnGetDeviceMetricsClick \"Параметры устройства\"): get DeviceName: expected \"Весы \\\"Ортикс\\\"\\n\", got \"Весы\""},
        {"a method's result", [] { fakedriver::SetLong("AddDevice", 4); }, {}, "call AddDevice: expected 3, got 4"},
        {"a failure that no longer fails", [] { fakedriver::ScriptFailure("Tare", S_OK); }, {},
         "(btnTareClick \"Тара\"): call Tare: expected failed: 0x80020009 \"Нет связи с весами\", got 0"},
        {"a write that fails", [] { fakedriver::ScriptFailure("UnitPrice", E_ACCESSDENIED, "запрещено", true); }, {},
         "put UnitPrice: expected success, got failed: 0x80070005 \"запрещено\"",
         2}, // and the result check after it reads what the failed write left
        {"a data event that never comes", [] { fakedriver::OnCall("GenerateEvent", {}); }, {"--event-timeout", "200"},
         "event DataEvent: expected a data event, got none within 200 ms"},
        // A huge text: an excerpt where it parts from the recorded one, its length and that place.
        {"a huge text", [] { fakedriver::SetTextUtf8("DeviceName", "Весы \"Ортикс\"" + std::string(1 << 20, 'W')); },
         {}, "WWW\"... (1048599 bytes); first difference at offset 23"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fakedriver::Reset();
        testsupport::ScriptSittingDriver();
        c.Change();
        std::vector<std::string> args{FRecording};
        args.insert(args.end(), c.Options.begin(), c.Options.end());
        const auto run = RunReplay(args);
        const auto lines = run.OutLines();
        if (c.Difference.empty()) {
            EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
            EXPECT_EQ(lines.size(), 1u) << run.Out;
            continue;
        }
        EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
        ASSERT_EQ(lines.size(), c.Count + 1) << run.Out;
        EXPECT_NE(lines[0].find(c.Difference), std::string::npos) << lines[0];
        EXPECT_LT(lines[0].size(), 2 * replay::kShownText + 200);
        EXPECT_EQ(lines.back(), std::to_string(FActions) + " passed, 1 failed");
    }
}

TEST_F(ReplayAgainstFake, ADriverThatCannotBeCreatedEndsWithCode2AndTheReason)
{
    struct TCase {
        const char* Name;
        std::vector<std::string> Args;
        std::function<void()> Prepare;
        const char* Reason;
    };
    const TCase cases[] = {
        {"no such module", {"--module", FEnvironment.Folder() + "/missing.dll"}, [] {}, "cannot load"},
        {"a module that is no server", {"--module", FRecording}, [] {}, "cannot load"},
        {"the class not registered", {}, [] { fakedriver::Unregister(); }, "cannot create the driver (class {C4A2BE69"},
        {"no driver interface", {}, [] { fakedriver::OfferTrutina(false); }, "Interface not supported"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Prepare();
        std::vector<std::string> args{FRecording};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const auto run = RunReplay(args);
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err.find(c.Reason), std::string::npos) << run.Err;
        fakedriver::Register();
        fakedriver::OfferTrutina(true);
    }
}

TEST_F(ReplayAgainstFake, ABadRecordingRunsNothing)
{
    const std::string bad = FEnvironment.Folder() + "/bad.jsonl";
    WriteText(bad, ReadText(FRecording) + "{\"call\":\"Reset\"}\n{\"put\":\"Wieght\",\"value\":1}\n");
    fakedriver::ClearCalls();
    const auto run = RunReplay({bad});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_NE(run.Err.find(": line " + std::to_string(LineOf(ReadText(bad), "Wieght")) + ": unknown member \"Wieght\""),
              std::string::npos)
        << run.Err;
    EXPECT_TRUE(fakedriver::Calls().empty());

    // A last line cut short (a crash, a full disk) loses only that line: the rest is replayed.
    WriteText(bad, ReadText(FRecording) + "{\"call\":\"Reset\"}\n{\"get\":\"Wei");
    const auto cut = RunReplay({bad});
    EXPECT_EQ(cut.ExitCode, 1);
    const std::string text = ReadText(bad);
    EXPECT_NE(cut.Err.find("line " + std::to_string(std::count(text.begin(), text.end(), '\n') + 1) + " is cut short"),
              std::string::npos)
        << cut.Err;
    EXPECT_EQ(fakedriver::CallTexts().back(), "call Reset");

    // A header alone: nothing was checked.
    WriteText(bad, ReadText(FRecording).substr(0, ReadText(FRecording).find('\n') + 1));
    const auto empty = RunReplay({bad});
    EXPECT_EQ(empty.ExitCode, 2);
    EXPECT_NE(empty.Err.find("nothing to replay"), std::string::npos) << empty.Err;

    // A full disk cut the line, and the crash's last words came after it on a line of their own.
    WriteText(bad, ReadText(FRecording) + "{\"get\":\"Wei\n{\"call\":\"Tare\",\"crashed\":\"signal 11 (SIGSEGV)\"}\n");
    const auto crashed = RunReplay({bad});
    EXPECT_EQ(crashed.ExitCode, 1) << crashed.Err;
    EXPECT_NE(crashed.Out.find("the sitting ended here: the driver crashed in call Tare"), std::string::npos)
        << crashed.Out;
}

// Every file the replay and the recorder use goes through the safe-file service (whose table has
// every kind of node): a folder, on every system, is refused at once with the file's name.
TEST_F(ReplayAgainstFake, EachFileItUsesIsRefusedWhenItIsNoRegularFile)
{
    const std::string folder = FEnvironment.Folder() + "/folder";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const auto fromFolder = RunReplay({folder});
    EXPECT_EQ(fromFolder.ExitCode, 2);
    EXPECT_NE(fromFolder.Err.find("cannot read the recording " + folder + ": not a regular file"), std::string::npos)
        << fromFolder.Err;
    const auto report = RunReplay({FRecording, "--junit", folder});
    EXPECT_EQ(report.ExitCode, 2);
    EXPECT_NE(report.Err.find("cannot write the report " + folder + ": not a regular file"), std::string::npos) << report.Err;
    EXPECT_THROW(driver::TRecorder{folder}, runtime::Exception);
    // A sitting is never added to a file that holds something: a second sitting would spoil both.
    EXPECT_THROW(driver::TRecorder{FRecording}, runtime::Exception);
}

// A driver's answers may depend on the time (scales settle): an action begins no earlier after the
// start than it did in the sitting.
TEST_F(ReplayAgainstFake, AnActionBeginsNoEarlierThanInTheSitting)
{
    const std::string paced = FEnvironment.Folder() + "/paced.jsonl";
    WriteText(paced, ReadText(FRecording).substr(0, ReadText(FRecording).find('\n') + 1)
                         + "{\"action\":\"btnReadWeightClick\",\"caption\":\"Получить массу\",\"ms\":300}\n"
                           "{\"call\":\"ReadWeight\"}\n");
    fakedriver::ClearCalls();
    const auto start = std::chrono::steady_clock::now();
    const auto run = RunReplay({paced});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_EQ(fakedriver::CallTexts(), std::vector<std::string>{"call ReadWeight"});
}

// A long wait before an action is said, with the action, before it is waited (here not waited).
TEST(ReplayWaits, ALongWaitIsSaidBeforeItIsWaited)
{
    const driver::TRecording recording = driver::ParseRecording(
        R"({"format":"ponderix-recording","version":1,"clsid":"{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}"})" "\n"
        R"({"action":"btnTareClick","caption":"Тара","ms":9000})" "\n"
        R"({"action":"btnTareClick","caption":"Тара","ms":3600000})" "\n");
    std::vector<std::string> said;
    replay::TProgress progress;
    progress.Notice = [&](const std::string& words) { said.push_back(words); };
    const auto waitNot = [](long long ms, const std::function<void(long long)>& before) { before(ms); };
    replay::Replay(recording, nullptr, {}, waitNot, {}, progress);
    EXPECT_EQ(said, std::vector<std::string>{
                        "line 3 (btnTareClick \"Тара\"): waits 3600.0 s, to begin as long after the start as in the sitting"});
}

// ---------------------------------------------------------------- a misbehaving driver, in the replay's child

// ponderix-replay's parent here, its driver child the program itself, against the misbehaving
// driver: each misdeed is named at its line as the difference or the error of its action, the
// replay lives on to write what it found, and the exit code says a driver fault (1) or a call
// given up (2).
TEST(ReplayAgainstARogueDriver, EachMisdeedIsNamedAtItsLineAndTheReportWritten)
{
    const std::string header =
        R"({"format":"ponderix-recording","version":1,"clsid":"{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}"})" "\n";
    const std::string sitting = header
                                + "{\"action\":\"btnReadWeightClick\",\"caption\":\"Получить массу\"}\n" // line 2
                                  "{\"call\":\"ReadWeight\",\"value\":0}\n"
                                  "{\"get\":\"Weight\",\"value\":0}\n"
                                  "{\"action\":\"edtUnitPriceExit\",\"caption\":\"12,34\"}\n"       // line 5
                                  "{\"put\":\"UnitPrice\",\"value\":\"12.3400\",\"status\":\"0x00000000\"}\n"
                                  "{\"action\":\"btnTareClick\",\"caption\":\"Тара\"}\n"           // line 7
                                  "{\"call\":\"Tare\",\"value\":0}\n";
#ifdef _WIN32
    const std::string accessViolation = "exception 0xC0000005 (access violation)";
#else
    const std::string accessViolation = "signal 11 (SIGSEGV)";
#endif
    const std::string readWeight = "line 3 (btnReadWeightClick \"Получить массу\"): ";
    // A sitting's own recording promises its end line.
    const std::string marked = header.substr(0, header.size() - 2) + ",\"marksEnd\":true}\n" + sitting.substr(header.size());
    struct TRow {
        const char* Rules;
        std::string Recording;
        int ExitCode;
        std::string Said; // the first line on standard output
        std::string Counts;
        int Errors; // in the report
    };
    const TRow rows[] = {
        {"", sitting, 0, "3 passed, 0 failed", "3 passed, 0 failed", 0},
        {"ReadWeight=c-exit:0", sitting, 1, readWeight + "the driver ended the process in call ReadWeight: exit code 0",
         "0 passed, 0 failed, 1 error", 1},
        {"ReadWeight=exit:3", sitting, 1, readWeight + "the driver ended the process in call ReadWeight: exit code 3",
         "0 passed, 0 failed, 1 error", 1},
        {"ReadWeight=throw", sitting, 1,
         readWeight + "call ReadWeight: expected 0, got failed: 0x8000FFFF \"the rogue driver threw\"",
         "2 passed, 1 failed", 0},
        {"put UnitPrice=crash", sitting, 1,
         "line 6 (edtUnitPriceExit \"12,34\"): the driver crashed in put UnitPrice \"12.3400\": " + accessViolation,
         "1 passed, 0 failed, 1 error", 1},
        {"ReadWeight=hang:60000", sitting, 2,
         readWeight + "call ReadWeight did not return within 0.3 s; the process was ended", "0 passed, 0 failed, 1 error",
         1},
        // A sitting that ended in the driver: that action's error, whatever the driver does now.
        {"", sitting + "{\"call\":\"Tare\",\"crashed\":\"signal 11 (SIGSEGV)\"}\n", 1,
         "line 9 (btnTareClick \"Тара\"): the sitting ended here: the driver crashed in call Tare: signal 11 (SIGSEGV)",
         "2 passed, 0 failed, 1 error", 1},
        {"", sitting + "{\"call\":\"Tare\",\"exited\":\"exit code 0\"}\n", 1,
         "line 9 (btnTareClick \"Тара\"): the sitting ended here: the driver ended the process in call Tare: exit code 0",
         "2 passed, 0 failed, 1 error", 1},
        // The driver's making is timed as its calls are.
        {"DllGetClassObject=hang", sitting, 2,
         "line 1 (start-up): loading the module did not return within 0.3 s; the process was ended",
         "0 passed, 0 failed, 1 error", 1},
        {"CreateInstance=hang", sitting, 2,
         "line 1 (start-up): creating the object did not return within 0.3 s; the process was ended",
         "0 passed, 0 failed, 1 error", 1},
        // A sitting killed unseen (or a driver's _exit) leaves no end line: its last action's error.
        {"", marked + "{\"end\":\"normal\"}\n", 0, "3 passed, 0 failed", "3 passed, 0 failed", 0},
        {"", marked, 1, "line 8 (btnTareClick \"Тара\"): the sitting ended abruptly after this line",
         "2 passed, 0 failed, 1 error", 1},
    };
    const auto folder = testenv::MakeTempFolder("ponderix-rogue-replay-");
    const std::string recording = (folder / "sitting.jsonl").string(), report = (folder / "report.xml").string();
    testenv::SetVariable("PONDERIX_CALL_LIMIT_MS", "300");
    for (const TRow& row : rows) {
        SCOPED_TRACE(std::string(row.Rules) + " " + row.Recording.substr(row.Recording.rfind('{')));
        WriteText(recording, row.Recording);
        std::filesystem::remove(report);
        testenv::SetVariable("PONDERIX_ROGUE_DRIVER", row.Rules);
        std::ostringstream out, err;
        const int code = replay::Run({recording, "--module", ROGUE_DRIVER_PATH, "--junit", report}, out, err,
                                     {true, REPLAY_PROGRAM_PATH});
        EXPECT_EQ(code, row.ExitCode) << out.str() << err.str();
        std::istringstream lines(out.str());
        std::string first, last;
        std::getline(lines, first);
        for (std::string line = first; std::getline(lines, line);)
            last = line;
        EXPECT_EQ(first, row.Said) << out.str();
        EXPECT_EQ(last.empty() ? first : last, row.Counts) << out.str();
        const std::string xml = ReadText(report);
        EXPECT_NE(xml.find("errors=\"" + std::to_string(row.Errors) + "\""), std::string::npos) << xml;
        if (row.ExitCode == 2) { // said while it ran, before it was given up
            EXPECT_NE(err.str().find(row.Said.substr(0, row.Said.find(" did not return")) + " has been running for 0.3 s"),
                      std::string::npos)
                << err.str();
        }
    }
    testenv::UnsetVariable("PONDERIX_ROGUE_DRIVER");
    testenv::UnsetVariable("PONDERIX_CALL_LIMIT_MS");

    // The driver child alone parses the recording: the tool says the same of it as in-process,
    // a bad one, an empty one, a cut one and actions whose texts hold tabs and line ends included.
    const std::string odd = header + "{\"call\":\"Tare\",\"value\":7}\n"
                            "{\"action\":\"btnTareClick\",\"caption\":\"a\\tb\\nc%25\"}\n{\"call\":\"Tare\",\"value\":5}\n"
                            "{\"action\":\"btnZeroClick\"}\n{\"call\":\"Zero\"}\n{\"get\":\"Wei";
    for (const std::string& text : {header + "{\"get\":\"Wieght\"}\n", header, odd}) {
        SCOPED_TRACE(text);
        WriteText(recording, text);
        std::ostringstream childOut, childErr, hereOut, hereErr;
        const int inChild = replay::Run({recording, "--module", ROGUE_DRIVER_PATH}, childOut, childErr,
                                        {true, REPLAY_PROGRAM_PATH});
        const int here = replay::Run({recording, "--module", ROGUE_DRIVER_PATH}, hereOut, hereErr, {false, ""});
        EXPECT_EQ(inChild, here);
        EXPECT_EQ(childOut.str(), hereOut.str());
        EXPECT_EQ(childErr.str(), hereErr.str());
    }

#ifndef _WIN32
    // Standard output a pipe closed before the end (| head): the report is still written.
    WriteText(recording, sitting);
    std::filesystem::remove(report);
    const std::string command = std::string("'") + REPLAY_PROGRAM_PATH + "' '" + recording + "' --module '"
                                + ROGUE_DRIVER_PATH + "' --junit '" + report + "' 2>/dev/null | true";
    EXPECT_NE(std::system(command.c_str()), -1);
    EXPECT_TRUE(std::filesystem::exists(report));
#endif
    std::filesystem::remove_all(folder);
}

TEST(ReplayArguments, MisuseIsRefusedWithCode2)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"a.jsonl", "b.jsonl"},
        {"a.jsonl", "--colour"},
        {"a.jsonl", "--tolerance"},
        {"a.jsonl", "--tolerance", "-1"},
        {"a.jsonl", "--tolerance", "0.1x"},
        {"a.jsonl", "--event-timeout", "1.5"},
        {"a.jsonl", "--ignore", "Weight,Wieght"},
        {"a.jsonl", "--module", ""},
    };
    for (const auto& args : cases) {
        const auto run = RunReplay(args);
        EXPECT_EQ(run.ExitCode, 2) << ::testing::PrintToString(args);
        EXPECT_NE(run.Err.find("usage: ponderix-replay"), std::string::npos) << run.Err;
    }
    // A call limit that is no limit, or so small that it would report calls that merely take a
    // while, is refused before anything runs.
    for (const char* limit : {"1", "99", "5s", "-1", "1e3", "99999999999999999999"}) {
        testenv::SetVariable("PONDERIX_CALL_LIMIT_MS", limit);
        const auto run = RunReplay({"a.jsonl"});
        EXPECT_EQ(run.ExitCode, 2) << limit;
        EXPECT_NE(run.Err.find(std::string("PONDERIX_CALL_LIMIT_MS is \"") + limit + "\": it takes whole milliseconds from 100"),
                  std::string::npos)
            << run.Err;
    }
    testenv::UnsetVariable("PONDERIX_CALL_LIMIT_MS");
    const replay::TOptions options = replay::ParseArguments(
        {"--ignore", "Weight", "r.jsonl", "--tolerance", "0.001", "--ignore", "NonStable", "--event-timeout", "250"});
    EXPECT_EQ(options.Recording, "r.jsonl");
    EXPECT_EQ(options.Ignore, (std::set<std::string>{"Weight", "NonStable"}));
    EXPECT_DOUBLE_EQ(options.Tolerance, 0.001);
    EXPECT_EQ(options.EventTimeoutMs, 250);
    // A module named without a folder is the current folder's, not the one the loader would find.
    EXPECT_EQ(replay::ParseArguments({"r.jsonl", "--module", "Trutina.dll"}).Module,
              (std::filesystem::current_path() / "Trutina.dll").string());
}

// What a terminal shows of text written to one line: a carriage return goes back to its start.
std::string Shown(const std::string& written)
{
    std::string line;
    std::size_t column = 0;
    for (char c : written) {
        if (c == '\r') {
            column = 0;
            continue;
        }
        if (column < line.size())
            line[column] = c;
        else
            line += c;
        ++column;
    }
    return line.substr(0, line.find_last_not_of(' ') + 1);
}

// The progress line: nothing off a terminal (logs stay clean); on one, a shorter text leaves
// nothing of the longer one before it, and clearing leaves the line empty for what follows.
TEST(ProgressLine, RewritesItsLineWholeAndOnlyOnATerminal)
{
    std::ostringstream log;
    {
        tools::TProgressLine line(log, false);
        line.Show("ponderix-replay: line 1 of 9");
    }
    EXPECT_EQ(log.str(), "");

    std::ostringstream terminal;
    tools::TProgressLine line(terminal, true);
    line.Show("ponderix-replay: line 10 of 99");
    EXPECT_EQ(Shown(terminal.str()), "ponderix-replay: line 10 of 99");
    std::this_thread::sleep_for(std::chrono::milliseconds(120)); // past its ten redraws a second
    line.Show("ponderix-replay: line 9");
    EXPECT_EQ(Shown(terminal.str()), "ponderix-replay: line 9");
    line.Clear();
    EXPECT_EQ(Shown(terminal.str()), "");
}

} // namespace
