#include "tools/ProgressLine.h"

#include <ostream>

namespace tools {

void TProgressLine::Show(const std::string& text)
{
    const auto now = std::chrono::steady_clock::now();
    if (!FShown || (FWidth > 0 && now - FLast < std::chrono::milliseconds(100)))
        return;
    FLast = now;
    FErr << '\r' << text << std::string(FWidth > text.size() ? FWidth - text.size() : 0, ' ') << '\r' << text;
    FErr.flush();
    FWidth = text.size();
}

void TProgressLine::Clear()
{
    if (FWidth == 0)
        return;
    FErr << '\r' << std::string(FWidth, ' ') << '\r';
    FErr.flush();
    FWidth = 0;
}

} // namespace tools
