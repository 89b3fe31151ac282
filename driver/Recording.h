// Driver recordings: a sitting at the bench written as one JSON object per line, so that it can be
// replayed against another driver and every difference reported. No Qt.
//
// The first line names the format and its version, the driver's class id, its module file and its
// DriverVersion. Then, in the order they happened:
//   {"action":"btnReadWeightClick","caption":"Получить массу","ms":5210}
//                                                                a user action begins, 5210 ms
//                                                                after the header
//   {"get":"Weight","value":1.25}                                a read and the value read
//   {"put":"UnitPrice","value":"12.3400","status":"0x00000000"}  a write, its argument and status
//   {"call":"AddDevice","value":3}                               a method and its result
//   {"get":"Weight","status":"0x80020009","error":"Нет связи"}   a failed call: status and text
//   {"event":"DataEvent"}                                        a data event delivered
//   {"event":"DataEvent","notice":"..."}                         ... that the driver raised on a
//                                                                thread of its own (said once)
//   {"call":"ReadWeight","crashed":"signal 11 (SIGSEGV)"}        the process died in this call
//   {"call":"ReadWeight","exited":"exit code 0"}                 the driver ended the process in it
//   {"end":"normal"}                                             the sitting ended normally (last)
// A sitting's header says "marksEnd":true: a recording of it without the end line stopped
// abruptly (the process was killed or ended unseen). Recordings without "marksEnd" (older
// ones, scripts) end where their lines do.
// Integers and flags (raw: -1 true, 0 false) are JSON integers, reals JSON numbers ("nan", "inf",
// "-inf" as texts), money the amount as a decimal text ("12.3400"), texts JSON strings.
// A read or method without "value" and "status", or a write without "status", only drives: its
// answer is not compared; an action without "ms" starts at once. That lets a recording be edited
// by hand into a script. What a rule expects of a driver's answer, whatever its state, instead of
// a value ("expect"), and a read made through IDispatch::Invoke ("through"):
//   {"call":"Reset","expect":"returned"}                         the call returns a status (no
//                                                                C++ exception out of it)
//   {"get":"PortNumber","expect":"kept"}                         the value this member's read
//                                                                before gave, unless the last
//                                                                ResultCode read was 0
//   {"get":"Model","through":"Invoke","expect":"same"}           the value this member's read
//                                                                before gave
//   {"get":"ResultDescription","expect":"described"}             a non-empty text, unless the last
//                                                                ResultCode read was 0
//   {"get":"ResultCode","expect":"agrees"}                       0, or the integer result of the
//                                                                method called last
//   {"get":"DeviceCount","expect":"added"}                       one more than this member's read
//                                                                before ("deleted": one less),
//                                                                unless the last ResultCode read
//                                                                was not 0: the same
//   {"event":"DataEvent","expect":"own-thread"}                  any data event that comes (within
//                                                                1.2 s) on the object's thread
#pragma once

#include "driver/CallTrace.h"
#include "driver/Trutina_TLB.h"
#include "platform/safefile.h"
#include "platform/status.h"
#include "runtime/exceptions.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace driver {

inline constexpr const char* RecordingFormat = "ponderix-recording";
inline constexpr int RecordingVersion = 1;
// A replay reads no larger recording (a sitting records about 3.6 MB an hour).
inline constexpr std::uintmax_t MaxRecordingBytes = std::uintmax_t(1) << 30;
// An action begins at most this long after the header (a replay waits until then).
inline constexpr long long MaxActionMs = 24LL * 3600 * 1000;

struct TRecordingHeader {
    std::string ClassId;       // "{C4A2BE69-...}"
    std::string Module;        // the module file the class was created from
    std::string DriverVersion; // as the driver answered it; empty when it could not be read
    bool MarksEnd = false;     // the writer ends a normal sitting with the end line
};

enum class TStepKind { Action, Call, Event };

// What a call's answer is compared with besides a recorded value (RecordingExpectLine).
enum class TExpectation { Recorded, Returned, Kept, Same, Described, Agrees, Added, Deleted, OwnThread };

// One line of a recording after the header.
struct TRecordedStep {
    int Line = 0; // 1-based line number in the file
    TStepKind Kind = TStepKind::Call;
    // An action: the handler that runs it and the control's caption.
    std::string Handler;
    std::string Caption;
    long long AtMs = -1; // when it began, in ms after the header; -1: not recorded
    // A call: the member, read / write / method, the argument of a write or the expected value of
    // a read or method.
    const TrutinaMemberInfo* Member = nullptr;
    TCallDirection Direction = TCallDirection::Read;
    TCallValue Value;
    bool Checked = false; // an expected answer is given (value and/or status, or an expectation)
    TExpectation Expect = TExpectation::Recorded;
    bool ThroughInvoke = false; // a read made through IDispatch::Invoke
    HRESULT Status = S_OK;
    std::string StatusText;
    std::string Crashed; // the process died in this call, of this fault; the recording ends here
    std::string Exited;  // the driver ended the process in this call ("exit code 0"); the same
};

struct TRecording {
    TRecordingHeader Header;
    std::vector<TRecordedStep> Steps;
    int CutShortLine = 0; // the last line, cut short by a crash or a full disk: not among the steps
    int EndLine = 0;      // the line that marks the sitting's normal end; 0: none
    // The header promises the end line, and neither it nor the last words of a crash or an exit
    // came: the sitting stopped after its last line, unseen.
    bool EndedAbruptly() const;
};

// A recording that cannot be used; the message names the line and what is wrong.
class ERecordingError : public runtime::Exception {
public:
    ERecordingError(int line, const std::string& what)
        : runtime::Exception(line > 0 ? "line " + std::to_string(line) + ": " + what : what), FLine(line) {}
    int Line() const noexcept { return FLine; }

private:
    int FLine;
};

// The whole text is checked before anything is returned: a bad line refuses the recording, but a
// last line cut short is left out (CutShortLine).
TRecording ParseRecording(std::string_view text);
// Reads and parses the file; ERecordingError with line 0 when it cannot be read.
TRecording ReadRecordingFile(const std::string& path);

// The lines, without their line end.
std::string RecordingHeaderLine(const TRecordingHeader& header);
std::string RecordingCallLine(const TDriverCall& call); // a call or a data event
// A call that only drives: the member and a write's argument, no answer to compare.
std::string RecordingDriveLine(const char* member, TCallDirection direction, const TCallValue& argument = {});
// A call whose answer is held to an expectation (not Recorded); a read may be made through Invoke.
std::string RecordingExpectLine(const char* member, TCallDirection direction, const TCallValue& argument,
                                TExpectation expectation, bool throughInvoke = false);
// A value as a recording line holds it (JSON).
std::string RecordingValueText(const TCallValue& value);
// elapsedMs: the time since the header; negative leaves it out.
std::string RecordingActionLine(std::string_view handler, std::string_view caption, long long elapsedMs = -1);
std::string RecordingEndLine();

// The file a recording is written to: a new file or an empty one (a sitting never joins another
// file's lines). Each line goes to the system at once, so that a crash leaves whole lines.
class TRecorder {
public:
    // Opens path; runtime::Exception naming the file and the reason when it cannot be used.
    explicit TRecorder(const std::string& path);
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;
    ~TRecorder();

    // false when the line could not be written; the first failure is said on standard error and
    // kept in Failure(), and nothing more is written (a part line would spoil the ones after it).
    bool WriteLine(const std::string& line) noexcept;
    // The sitting has ended normally: the end line (RecordingEndLine); nothing is written after it.
    void End() noexcept;
    const std::string& Failure() const { return FFailure; }

private:
    std::string FPath;
    platform::NewFileWriter FFile;
    std::string FFailure;
};

} // namespace driver
