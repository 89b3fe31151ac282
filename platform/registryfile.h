// The class registry's text form, off Windows: a per-user text file in the manner of a .reg file.
//
//   [{CLSID}]
//   InprocServer32=/absolute/path/of/module
//   ThreadingModel=Apartment
//   Description=...
//   ProgID=Vendor.Class.1
//   VersionIndependentProgID=Vendor.Class
//
// The ProgIDs of a class are values of its own section (CLSIDFromProgID finds the section that
// names one), so a file that holds them is read by every version of the reader: older ones see
// two more values of the class and ignore them.
//
// Blank lines and lines starting with ';' or '#' are comments. A value is the rest of its line
// with the spaces around it trimmed; a value that starts or ends with a space or tab, or starts
// with '"', is written between double quotes, which the reader removes, so every value that has
// no line break or NUL reads back exactly. A UTF-8 byte-order mark at the start is accepted.
// Anything else that does not fit the form makes the text damaged.
//
// Not part of the platform's interface; the fuzz target compiles this file itself.
#pragma once

#include "platform/ole.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::detail {

// Larger files are not registries (a few thousand classes fit easily).
constexpr std::size_t kMaxRegistryBytes = 1024 * 1024;

using TRegistryValues = std::vector<std::pair<std::string, std::string>>;

// The text of a registry, line by line, so that a rewrite keeps every line it does not change
// (comments included, byte for byte).
class TRegistryText {
public:
    // Reads the text; false, with the reason and its line number in problem, when it is damaged.
    bool Parse(std::string_view text, std::string& problem);

    // The value of key in the class's section; nullptr when the class or the key is absent.
    const std::string* Find(REFCLSID clsid, std::string_view key) const;
    // Gives the class exactly these values: its section's values are replaced (its comments
    // stay), or a new section is added at the end.
    void Set(REFCLSID clsid, const TRegistryValues& values);
    // Removes the class's section header and values (comments stay); false when it is absent.
    bool Remove(REFCLSID clsid);
    // Sets one value of a registered class (replaced in place, else added after its last value);
    // false when the class is absent.
    bool SetValue(REFCLSID clsid, std::string_view key, std::string_view value);
    // Removes the values of these keys that equal value, ignoring ASCII case; in the class's
    // section only, or in every section but the class's (others). The number removed.
    std::size_t RemoveValues(REFCLSID clsid, bool others, std::initializer_list<std::string_view> keys,
                             std::string_view value);
    // The first class that has one of these keys with this value, ignoring ASCII case (as the
    // system's registry compares key names); false when none has.
    bool FindClass(std::initializer_list<std::string_view> keys, std::string_view value, CLSID& clsid) const;
    // Every class whose key (ignoring ASCII case) has exactly this value, in file order.
    std::vector<CLSID> ClassesWith(std::string_view key, std::string_view value) const;

    std::string Format() const;

    bool Contains(REFCLSID clsid) const { return SectionOf(clsid) != FLines.size(); }
    // How many classes the text registers.
    std::size_t Classes() const;

private:
    enum class EKind { Other, Section, Value };
    struct TLine {
        TLine() = default;
        TLine(EKind kind, std::string text) : Kind(kind), Text(std::move(text)) {}
        EKind Kind = EKind::Other;
        std::string Text; // as read (or as written for a new line), without the line feed
        CLSID Clsid{};    // Section
        std::string Key;  // Value
        std::string Value;
    };

    // The index of the class's section header, or Lines.size().
    std::size_t SectionOf(REFCLSID clsid) const;
    // The index just past the section's last value line.
    std::size_t SectionEnd(std::size_t header) const;

    bool FBom = false;
    std::vector<TLine> FLines;
};

// A value as the file holds it (quoted when needed) and back. The value has no line break or NUL
// (UnregistrableEntry refuses those).
std::string EncodeRegistryValue(std::string_view value);
std::string DecodeRegistryValue(std::string_view stored);

} // namespace platform::detail
