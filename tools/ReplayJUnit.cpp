// The replay's JUnit report: one test case per user action, its differences as the failure.
#include "tools/Replay.h"

namespace replay {

std::string XmlText(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\n': out += "&#10;"; break;
        case '\t': out += "&#9;"; break;
        default:
            if (c < 0x20 || c == 0x7F)
                out += "?"; // not allowed in XML 1.0
            else
                out += static_cast<char>(c);
        }
    }
    return out;
}

namespace {

std::string ActionName(const TAction& action)
{
    std::string name = "line " + std::to_string(action.Line) + ": " + action.Handler;
    if (!action.Caption.empty())
        name += " \"" + action.Caption + "\"";
    return name;
}

} // namespace

std::string JUnitReport(const TResult& result, const std::string& suiteName)
{
    const std::string counts = " tests=\"" + std::to_string(result.Actions.size()) + "\" failures=\""
                               + std::to_string(result.Failed()) + "\" errors=\"0\"";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites name=\"ponderix-replay\"" + counts + ">\n";
    xml += "  <testsuite name=\"" + XmlText(suiteName) + "\"" + counts + " skipped=\"0\">\n";
    for (const TAction& action : result.Actions) {
        xml += "    <testcase classname=\"" + XmlText(suiteName) + "\" name=\"" + XmlText(ActionName(action)) + "\"";
        if (action.Passed()) {
            xml += "/>\n";
            continue;
        }
        std::string details;
        for (const TDifference& difference : action.Differences)
            details += FormatDifference(action, difference) + "\n";
        xml += ">\n      <failure type=\"difference\" message=\"" + std::to_string(action.Differences.size())
               + (action.Differences.size() == 1 ? " difference" : " differences") + "\">" + XmlText(details)
               + "</failure>\n    </testcase>\n";
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

} // namespace replay
