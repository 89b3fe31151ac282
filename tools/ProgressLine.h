// One line on standard error that says how far long work has come.
#pragma once

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <string>

namespace tools {

// Rewritten in place (a carriage return, the text, blanks over what the last text was longer by)
// at most ten times a second, and erased by Clear or at the end, so that what the tool prints
// stands on lines of its own. Shown only when told so, which callers take from
// platform::StandardErrorIsTerminal: a log or a pipe gets nothing of it.
class TProgressLine {
public:
    TProgressLine(std::ostream& err, bool shown) : FErr(err), FShown(shown) {}
    ~TProgressLine() { Clear(); }
    TProgressLine(const TProgressLine&) = delete;
    TProgressLine& operator=(const TProgressLine&) = delete;

    void Show(const std::string& text);
    void Clear();

private:
    std::ostream& FErr;
    const bool FShown;
    std::size_t FWidth = 0; // of the text on the line now; 0: none
    std::chrono::steady_clock::time_point FLast{};
};

} // namespace tools
