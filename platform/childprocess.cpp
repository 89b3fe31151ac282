// What both systems share of a child process: its output cut into lines, its error output kept.
#include "platform/childprocess.h"

#include <algorithm>
#include <chrono>

namespace platform {

void ChildProcess::AddOutput(const char* data, std::size_t size)
{
    std::string_view rest(data, size);
    if (FCutting) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos)
            return;
        rest.remove_prefix(end + 1);
        FCutting = false;
    }
    FOutput.erase(0, FTaken); // once a read, not once a line
    FTaken = 0;
    FOutput.append(rest);
}

void ChildProcess::AddErrors(const char* data, std::size_t size)
{
    FErrors.append(data, std::min(size, MaxErrorOutput - std::min(MaxErrorOutput, FErrors.size())));
}

bool ChildProcess::TakeLine(std::string& line)
{
    const std::size_t end = FOutput.find('\n', FTaken);
    if (end == std::string::npos) {
        FOutput.erase(0, FTaken);
        FTaken = 0;
        const bool whole = FOutputEnded && !FOutput.empty();
        if (!whole && FOutput.size() < MaxLine)
            return false;
        // Too long, or the last line without its end: handed out as it is.
        line = FOutput.substr(0, MaxLine);
        const std::string rest = FOutput.substr(line.size());
        FOutput.clear();
        FCutting = true; // the rest of the line goes
        AddOutput(rest.data(), rest.size());
        return true;
    }
    line.assign(FOutput, FTaken, std::min(end - FTaken, MaxLine));
    FTaken = end + 1;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

ChildProcess::ReadOutcome ChildProcess::ReadLine(std::string& line, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (TakeLine(line))
            return ReadOutcome::Line;
        if (FOutputEnded)
            return ReadOutcome::Ended;
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return ReadOutcome::TimedOut;
            wait = static_cast<int>(left);
        }
        Pump(wait);
    }
}

} // namespace platform
