// The class registry's text form: reading, editing in place, writing.
#include "platform/registryfile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <set>

namespace platform::detail {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr const char* kHeaderComment = "; Ponderix class registry: in-process servers by class id.";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string GuidText(REFCLSID clsid)
{
    OLECHAR wide[40];
    const int n = StringFromGUID2(clsid, wide, 40);
    return std::string(wide, wide + (n > 0 ? n - 1 : 0)); // the text form is ASCII
}

std::optional<CLSID> ParseGuidText(std::string_view text)
{
    if (text.size() != 38)
        return std::nullopt;
    std::u16string wide(text.begin(), text.end());
    CLSID clsid{};
    if (FAILED(CLSIDFromString(reinterpret_cast<LPCOLESTR>(wide.c_str()), &clsid)))
        return std::nullopt;
    return clsid;
}

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return lower(x) == lower(y);
           });
}

bool IsOneOf(std::string_view key, std::initializer_list<std::string_view> keys)
{
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

std::array<unsigned char, sizeof(CLSID)> Bytes(REFCLSID clsid)
{
    std::array<unsigned char, sizeof(CLSID)> bytes;
    std::memcpy(bytes.data(), &clsid, sizeof clsid);
    return bytes;
}

} // namespace

std::string EncodeRegistryValue(std::string_view value)
{
    const bool quoted = !value.empty() && (value.front() == ' ' || value.front() == '\t' || value.front() == '"' ||
                                           value.back() == ' ' || value.back() == '\t');
    return quoted ? "\"" + std::string(value) + "\"" : std::string(value);
}

std::string DecodeRegistryValue(std::string_view stored)
{
    if (stored.size() >= 2 && stored.front() == '"' && stored.back() == '"')
        stored = stored.substr(1, stored.size() - 2);
    return std::string(stored);
}

bool TRegistryText::Parse(std::string_view text, std::string& problem)
{
    FLines.clear();
    FBom = text.substr(0, kBom.size()) == kBom;
    if (FBom)
        text.remove_prefix(kBom.size());
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
        const auto lines = std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(nul), '\n');
        problem = "line " + std::to_string(lines + 1) + ": a NUL byte";
        return false;
    }
    std::set<std::array<unsigned char, sizeof(CLSID)>> seen; // the duplicate check, without rescanning
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        TLine line;
        line.Text = std::string(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const std::string_view content = Trim(line.Text);
        const auto fail = [&](const char* why) {
            problem = "line " + std::to_string(number) + ": " + why;
            FLines.clear();
            return false;
        };
        if (content.empty() || content.front() == ';' || content.front() == '#') {
            // a comment or a blank line
        } else if (content.front() == '[') {
            if (content.back() != ']')
                return fail("a section header without its closing ']'");
            const auto clsid = ParseGuidText(content.substr(1, content.size() - 2));
            if (!clsid)
                return fail("a section header that is not a class id");
            if (!seen.insert(Bytes(*clsid)).second)
                return fail("a second section of the same class id");
            line.Kind = EKind::Section;
            line.Clsid = *clsid;
        } else {
            const std::size_t eq = content.find('=');
            if (eq == std::string_view::npos)
                return fail("neither a section header, a value nor a comment");
            if (seen.empty())
                return fail("a value outside any section");
            line.Key = std::string(Trim(content.substr(0, eq)));
            if (line.Key.empty())
                return fail("a value without a name");
            line.Kind = EKind::Value;
            line.Value = DecodeRegistryValue(Trim(content.substr(eq + 1)));
        }
        FLines.push_back(std::move(line));
    }
    return true;
}

std::size_t TRegistryText::SectionOf(REFCLSID clsid) const
{
    for (std::size_t i = 0; i < FLines.size(); ++i)
        if (FLines[i].Kind == EKind::Section && FLines[i].Clsid == clsid)
            return i;
    return FLines.size();
}

std::size_t TRegistryText::SectionEnd(std::size_t header) const
{
    std::size_t end = header + 1;
    while (end < FLines.size() && FLines[end].Kind != EKind::Section)
        ++end;
    return end;
}

const std::string* TRegistryText::Find(REFCLSID clsid, std::string_view key) const
{
    const std::size_t header = SectionOf(clsid);
    if (header == FLines.size())
        return nullptr;
    for (std::size_t i = header + 1, end = SectionEnd(header); i < end; ++i)
        if (FLines[i].Kind == EKind::Value && FLines[i].Key == key)
            return &FLines[i].Value;
    return nullptr;
}

void TRegistryText::Set(REFCLSID clsid, const TRegistryValues& values)
{
    std::size_t header = SectionOf(clsid);
    if (header == FLines.size()) {
        if (FLines.empty())
            FLines.push_back({EKind::Other, kHeaderComment});
        if (!Trim(FLines.back().Text).empty())
            FLines.push_back({EKind::Other, ""});
        TLine section{EKind::Section, "[" + GuidText(clsid) + "]"};
        section.Clsid = clsid;
        FLines.push_back(std::move(section));
        header = FLines.size() - 1;
    } else {
        const auto first = FLines.begin() + static_cast<std::ptrdiff_t>(header + 1);
        const auto last = FLines.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header));
        FLines.erase(std::remove_if(first, last, [](const TLine& l) { return l.Kind == EKind::Value; }), last);
    }
    std::vector<TLine> lines;
    for (const auto& [key, value] : values) {
        TLine line{EKind::Value, key + "=" + EncodeRegistryValue(value)};
        line.Key = key;
        line.Value = value;
        lines.push_back(std::move(line));
    }
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(header + 1), lines.begin(), lines.end());
}

bool TRegistryText::Remove(REFCLSID clsid)
{
    const std::size_t header = SectionOf(clsid);
    if (header == FLines.size())
        return false;
    const auto first = FLines.begin() + static_cast<std::ptrdiff_t>(header);
    const auto last = FLines.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header));
    FLines.erase(std::remove_if(first, last, [](const TLine& l) { return l.Kind != EKind::Other; }), last);
    return true;
}

bool TRegistryText::SetValue(REFCLSID clsid, std::string_view key, std::string_view value)
{
    const std::size_t header = SectionOf(clsid);
    if (header == FLines.size())
        return false;
    TLine line{EKind::Value, std::string(key) + "=" + EncodeRegistryValue(value)};
    line.Key = std::string(key);
    line.Value = std::string(value);
    const std::size_t end = SectionEnd(header);
    std::size_t lastValue = header;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (FLines[i].Kind != EKind::Value)
            continue;
        if (FLines[i].Key == key) {
            FLines[i] = std::move(line);
            return true;
        }
        lastValue = i;
    }
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(lastValue + 1), std::move(line));
    return true;
}

std::size_t TRegistryText::RemoveValues(REFCLSID clsid, bool others, std::initializer_list<std::string_view> keys,
                                        std::string_view value)
{
    std::size_t removed = 0;
    bool inClass = false;
    for (std::size_t i = 0; i < FLines.size();) {
        const TLine& line = FLines[i];
        if (line.Kind == EKind::Section)
            inClass = line.Clsid == clsid;
        if (line.Kind == EKind::Value && inClass != others && IsOneOf(line.Key, keys) &&
            SameIgnoringCase(line.Value, value)) {
            FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(i));
            ++removed;
        } else {
            ++i;
        }
    }
    return removed;
}

bool TRegistryText::FindClass(std::initializer_list<std::string_view> keys, std::string_view value, CLSID& clsid) const
{
    const CLSID* section = nullptr;
    for (const auto& line : FLines) {
        if (line.Kind == EKind::Section)
            section = &line.Clsid;
        else if (line.Kind == EKind::Value && section && IsOneOf(line.Key, keys) && SameIgnoringCase(line.Value, value)) {
            clsid = *section;
            return true;
        }
    }
    return false;
}

std::vector<CLSID> TRegistryText::ClassesWith(std::string_view key, std::string_view value) const
{
    std::vector<CLSID> classes;
    const CLSID* section = nullptr;
    for (const auto& line : FLines) {
        if (line.Kind == EKind::Section)
            section = &line.Clsid;
        else if (line.Kind == EKind::Value && section && IsOneOf(line.Key, {key}) && line.Value == value)
            classes.push_back(*section);
    }
    return classes;
}

std::string TRegistryText::Format() const
{
    std::string text = FBom ? std::string(kBom) : std::string();
    for (const auto& line : FLines) {
        text += line.Text;
        text += '\n';
    }
    return text;
}

std::size_t TRegistryText::Classes() const
{
    std::size_t count = 0;
    for (const auto& line : FLines)
        count += line.Kind == EKind::Section;
    return count;
}

} // namespace platform::detail
