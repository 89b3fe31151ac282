// The driver host's one line on its standard output, once it has created the object or failed:
//   OK <the marshalled reference, hexadecimal>
//   ERR <status, 8 hexadecimal digits> <what failed>
// Written by the host (tools/ponderix-host.cpp), read by DriverHost::Start. Header only: the host
// links no library of ours.
#pragma once

#include "platform/hex.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace platform::hostline {

// The longest line: "OK " and a marshalled reference, a few hundred bytes, with ample room.
constexpr std::size_t kMaxLine = 16384;

// "OK " and the bytes in hexadecimal, NUL-terminated, into line of capacity bytes; false when
// they do not fit.
inline bool FormatReference(const unsigned char* bytes, std::size_t size, char* line, std::size_t capacity)
{
    if (capacity < 3 + size * 2 + 1)
        return false;
    char* out = line;
    *out++ = 'O';
    *out++ = 'K';
    *out++ = ' ';
    for (std::size_t i = 0; i < size; ++i) {
        *out++ = kHexDigits[bytes[i] >> 4];
        *out++ = kHexDigits[bytes[i] & 0xF];
    }
    *out = '\0';
    return true;
}

// "ERR <status> <what failed>" into line of capacity bytes.
inline void FormatRefusal(unsigned long status, const char* what, char* line, std::size_t capacity)
{
    std::snprintf(line, capacity, "ERR %08lX %s", status, what);
}

struct TAnswer {
    enum class TKind { Reference, Refusal, Unexpected, NotHexadecimal };
    TKind Kind = TKind::Unexpected;
    std::vector<unsigned char> Reference; // Reference: the marshalled bytes
    unsigned long Status = 0;             // Refusal: the host's status
    std::string What;                     // Refusal: what failed
};

// The line as read, without its line end.
inline TAnswer ParseAnswer(const std::string& line)
{
    TAnswer answer;
    if (line.rfind("ERR ", 0) == 0 && line.size() >= 12) {
        answer.Kind = TAnswer::TKind::Refusal;
        answer.Status = std::strtoul(line.substr(4, 8).c_str(), nullptr, 16);
        answer.What = line.size() > 13 ? line.substr(13) : std::string();
        return answer;
    }
    if (line.rfind("OK ", 0) != 0 || line.size() % 2 == 0)
        return answer;
    answer.Reference.resize((line.size() - 3) / 2);
    for (std::size_t i = 0; i < answer.Reference.size(); ++i) {
        const int high = HexDigitValue(static_cast<unsigned char>(line[3 + 2 * i]));
        const int low = HexDigitValue(static_cast<unsigned char>(line[4 + 2 * i]));
        if (high < 0 || low < 0) {
            answer.Kind = TAnswer::TKind::NotHexadecimal;
            answer.Reference.clear();
            return answer;
        }
        answer.Reference[i] = static_cast<unsigned char>(high * 16 + low);
    }
    answer.Kind = TAnswer::TKind::Reference;
    return answer;
}

} // namespace platform::hostline
