#include "tools/check/Report.h"

#include "platform/platform.h"
#include "runtime/utf.h"
#include "tools/Replay.h"
#include "tools/check/Rules.h"

#include <filesystem>

namespace check {

namespace {
int Count(const std::vector<TRuleResult>& results, TVerdict verdict)
{
    int n = 0;
    for (const TRuleResult& r : results)
        n += r.Verdict == verdict ? 1 : 0;
    return n;
}

std::string FindingText(const TFinding& f)
{
    return f.Member + ": expected " + f.Expected + ", observed " + f.Observed;
}
} // namespace

std::string ResultLine(const TRuleResult& result)
{
    switch (result.Verdict) {
    case TVerdict::Pass: return "PASS " + result.Rule;
    case TVerdict::Fail: return "FAIL " + result.Rule + ": " + FindingText(result.Finding);
    default: return "SKIP " + result.Rule + ": " + result.Reason;
    }
}

std::string SummaryLine(const std::vector<TRuleResult>& results)
{
    return std::to_string(Count(results, TVerdict::Pass)) + " passed, " + std::to_string(Count(results, TVerdict::Fail))
           + " failed, " + std::to_string(Count(results, TVerdict::Skip)) + " skipped";
}

std::string JUnitReport(const std::vector<TRuleResult>& results, const std::string& suiteName)
{
    const std::string counts = " tests=\"" + std::to_string(results.size()) + "\" failures=\""
                               + std::to_string(Count(results, TVerdict::Fail)) + "\" errors=\"0\"";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites name=\"ponderix-check\"" + counts + ">\n";
    xml += "  <testsuite name=\"" + replay::XmlText(suiteName) + "\"" + counts + " skipped=\""
           + std::to_string(Count(results, TVerdict::Skip)) + "\">\n";
    for (const TRuleResult& r : results) {
        const TRule* rule = FindRule(r.Rule);
        xml += "    <testcase classname=\"ponderix-check\" name=\"" + replay::XmlText(r.Rule) + "\"";
        if (r.Verdict == TVerdict::Pass) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n";
        if (r.Verdict == TVerdict::Skip)
            xml += "      <skipped message=\"" + replay::XmlText(r.Reason) + "\"/>\n";
        else
            xml += "      <failure type=\"" + replay::XmlText(r.Rule) + "\" message=\""
                   + replay::XmlText(FindingText(r.Finding)) + "\">"
                   + replay::XmlText(std::string("The driver must ") + (rule ? rule->Statement : "") + ".\n"
                                     + (rule ? rule->Basis : "") + ".\n"
                                     + (r.Finding.Recording.empty() ? "" : "Shortest sequence: " + r.Rule + ".jsonl\n"))
                   + "</failure>\n";
        xml += "    </testcase>\n";
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

std::string WriteOut(const std::string& folder, const std::string& header, const std::vector<TRuleResult>& results,
                     const std::string& suiteName)
{
    std::error_code ec;
    const std::filesystem::path dir = runtime::PathFromUtf8(folder);
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return folder + ": " + ec.message();
    auto write = [&](const std::string& name, const std::string& text) -> std::string {
        const std::string path = runtime::Utf8FromPath(dir / name);
        const std::string why = platform::ReplaceFileAtomically(path, text);
        return why.empty() ? why : path + ": " + why;
    };
    for (const TRuleResult& r : results) {
        if (r.Verdict != TVerdict::Fail || r.Finding.Recording.empty()) {
            // An earlier run's finding of a rule kept now would mislead: it goes.
            if (std::filesystem::is_regular_file(std::filesystem::symlink_status(dir / (r.Rule + ".jsonl"), ec)))
                std::filesystem::remove(dir / (r.Rule + ".jsonl"), ec);
            continue;
        }
        std::string text = header + "\n";
        for (const std::string& line : r.Finding.Recording)
            text += line + "\n";
        if (std::string why = write(r.Rule + ".jsonl", text); !why.empty())
            return why;
    }
    return write("junit.xml", JUnitReport(results, suiteName));
}

} // namespace check
