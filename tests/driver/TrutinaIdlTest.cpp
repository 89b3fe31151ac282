// The type library's IDL, which the build generates from the text of the member list, against the
// member table the compiler built from the same list: member for member, in vtable order.
#include "driver/Trutina_TLB.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadIdl()
{
    std::ifstream in(TRUTINA_IDL_PATH, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The text between "header" and the next "};".
std::string Block(const std::string& idl, const std::string& header)
{
    const auto start = idl.find(header);
    if (start == std::string::npos)
        return {};
    return idl.substr(start, idl.find("};", start) - start);
}

std::string GuidText(REFGUID guid)
{
    OLECHAR text[40];
    const int n = StringFromGUID2(guid, text, 40);
    return std::string(text + 1, text + (n > 2 ? n - 2 : 0)); // without the braces
}

// One operation of the interface as the IDL declares it.
struct TOperation {
    int Id;
    std::string Kind; // "propget", "propput" or "" (a method)
    std::string Help;
    std::string Name;
    std::string Parameter; // "[out, retval] long*", "[in] BSTR" ...
    bool operator==(const TOperation&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TOperation& o)
{
    return out << o.Id << " " << o.Kind << " " << o.Name << "(" << o.Parameter << ") \"" << o.Help << "\"";
}

std::vector<TOperation> DeclaredOperations(const std::string& interfaceBlock)
{
    static const std::regex operation(
        R"re(\[id\((\d+)\)(?:, (propget|propput))?, helpstring\("([^"]*)"\)\]\s*HRESULT (\w+)\((\[[^\]]*\] [\w*]+) \w+\);)re");
    std::vector<TOperation> out;
    for (std::sregex_iterator it(interfaceBlock.begin(), interfaceBlock.end(), operation), end; it != end; ++it)
        out.push_back({std::stoi((*it)[1]), (*it)[2], (*it)[3], (*it)[4], (*it)[5]});
    return out;
}

const char* IdlType(VARTYPE type)
{
    switch (type) {
    case VT_I4: return "long";
    case VT_BSTR: return "BSTR";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_R8: return "double";
    case VT_CY: return "CURRENCY";
    default: return "?";
    }
}

// The operations the member table declares, in the order of ITrutina's vtable.
std::vector<TOperation> TableOperations()
{
    std::vector<TOperation> out;
    for (const TrutinaMemberInfo& m : TrutinaMembers) {
        const std::string type = IdlType(m.Type);
        if (m.Kind == TrutinaMemberKind::Method) {
            out.push_back({m.Number, "", m.Help, m.Name, "[out, retval] long*"});
            continue;
        }
        out.push_back({m.Number, "propget", m.Help, m.Name, "[out, retval] " + type + "*"});
        if (m.Kind == TrutinaMemberKind::ReadWrite)
            out.push_back({m.Number, "propput", m.Help, m.Name, "[in] " + type});
    }
    return out;
}

TEST(TrutinaIdl, DeclaresEveryMemberOfTheTableInVtableOrder)
{
    const std::string idl = ReadIdl();
    ASSERT_FALSE(idl.empty()) << TRUTINA_IDL_PATH;
    const std::string itf = Block(idl, "interface ITrutina : IDispatch");
    ASSERT_FALSE(itf.empty()) << idl;
    // Every operation the block holds was read (none hides from the comparison in another form).
    const std::vector<TOperation> declared = DeclaredOperations(itf);
    std::size_t hresults = 0;
    for (std::size_t at = itf.find("HRESULT"); at != std::string::npos; at = itf.find("HRESULT", at + 1))
        ++hresults;
    EXPECT_EQ(declared.size(), hresults);

    const std::vector<TOperation> expected = TableOperations();
    ASSERT_EQ(declared.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(declared[i], expected[i]) << "operation " << i;
}

TEST(TrutinaIdl, NamesTheIdentifiersAndTheEventOfTheHeader)
{
    const std::string idl = ReadIdl();
    const std::pair<std::string, GUID> blocks[] = {
        {"library Trutina", LIBID_Trutina},
        {"interface ITrutina : IDispatch", IID_ITrutina},
        {"dispinterface ITrutinaEvents", DIID_ITrutinaEvents},
        {"coclass Statera", CLSID_Statera},
    };
    for (const auto& [header, guid] : blocks) {
        const auto at = idl.find(header);
        ASSERT_NE(at, std::string::npos) << header;
        // The attributes just before the block's header carry its uuid.
        const auto attributes = idl.rfind("uuid(", at);
        ASSERT_NE(attributes, std::string::npos) << header;
        EXPECT_EQ(idl.substr(attributes + 5, 36), GuidText(guid)) << header;
    }
    EXPECT_NE(Block(idl, "dispinterface ITrutinaEvents")
                  .find("[id(" + std::to_string(DISPID_TRUTINA_DATAEVENT) + "), helpstring(\"A data message was queued\")]\n"
                        "        void DataEvent();"),
              std::string::npos);
    const std::string coclass = Block(idl, "coclass Statera");
    EXPECT_NE(coclass.find("[default] interface ITrutina;"), std::string::npos) << coclass;
    EXPECT_NE(coclass.find("[default, source] dispinterface ITrutinaEvents;"), std::string::npos) << coclass;
    EXPECT_NE(idl.find("version(" + std::to_string(TRUTINA_TYPELIB_MAJOR) + "." +
                       std::to_string(TRUTINA_TYPELIB_MINOR) + ")"),
              std::string::npos);
}

} // namespace
