#include "tools/check/Report.h"

#include "platform/safefile.h"
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

// The reason a write failed, naming its file once.
std::string WriteFailure(const std::string& path, const std::string& why)
{
    return why.find(path) != std::string::npos ? why : path + ": " + why;
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
    case TVerdict::Warn: return "WARN " + result.Rule + ": " + FindingText(result.Finding);
    default: return "SKIP " + result.Rule + ": " + result.Reason;
    }
}

std::string SummaryLine(const std::vector<TRuleResult>& results)
{
    return std::to_string(Count(results, TVerdict::Pass)) + " passed, " + std::to_string(Count(results, TVerdict::Fail))
           + " failed, " + std::to_string(Count(results, TVerdict::Skip)) + " skipped"
           + (Count(results, TVerdict::Warn) > 0 ? ", " + std::to_string(Count(results, TVerdict::Warn)) + " warned" : "");
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
        if (r.Verdict == TVerdict::Warn) // shown, not failing the case
            xml += "      <system-out>" + replay::XmlText(ResultLine(r)) + "</system-out>\n";
        else if (r.Verdict == TVerdict::Skip)
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

std::string PrepareOut(const std::string& folder, std::set<std::string>& written)
{
    std::error_code ec;
    const std::filesystem::path dir = runtime::PathFromUtf8(folder);
    // Made only where nothing is, not even a link: a link is walked by the write below, which
    // refuses another user's.
    if (!std::filesystem::exists(std::filesystem::symlink_status(dir, ec)))
        std::filesystem::create_directories(dir, ec);
    if (ec)
        return folder + ": " + ec.message();
    const std::string junit = runtime::Utf8FromPath(dir / "junit.xml");
    const platform::FileRead earlier = platform::ReadFileBounded(junit, 4 << 20);
    const std::string unfinished =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<testsuites name=\"ponderix-check\" tests=\"1\" failures=\"0\" errors=\"1\">\n"
        "  <testsuite name=\"ponderix-check\" tests=\"1\" failures=\"0\" errors=\"1\" skipped=\"0\">\n"
        "    <testcase classname=\"ponderix-check\" name=\"run\">\n"
        "      <error message=\"the run has not finished, or could not write its findings\"/>\n"
        "    </testcase>\n  </testsuite>\n</testsuites>\n";
    if (const std::string why = platform::ReplaceFileAtomically(junit, unfinished); !why.empty())
        return WriteFailure(junit, why);
    if (earlier.Outcome == platform::FileRead::TOutcome::Read)
        for (std::size_t i = 0; i < RuleCount; ++i)
            if (earlier.Text.find(std::string("Shortest sequence: ") + Rules[i].Id + ".jsonl") != std::string::npos)
                written.insert(Rules[i].Id);
    return {};
}

std::string WriteOut(const std::string& folder, const std::string& header, const std::vector<TRuleResult>& results,
                     const std::string& suiteName, const std::set<std::string>& written)
{
    const std::filesystem::path dir = runtime::PathFromUtf8(folder);
    auto write = [&](const std::string& name, const std::string& text) -> std::string {
        const std::string path = runtime::Utf8FromPath(dir / name);
        const std::string why = platform::ReplaceFileAtomically(path, text);
        return why.empty() ? why : WriteFailure(path, why);
    };
    for (const TRuleResult& r : results) {
        if (r.Verdict != TVerdict::Fail || r.Finding.Recording.empty()) {
            // An earlier run's finding of a rule kept now would mislead: it goes, if it is still
            // our own regular file (emptied first: the safe-file service refuses anybody else's).
            const std::filesystem::path stale = dir / (r.Rule + ".jsonl");
            std::error_code ec;
            if (written.count(r.Rule) && std::filesystem::is_regular_file(std::filesystem::symlink_status(stale, ec))
                && platform::ReplaceFileAtomically(runtime::Utf8FromPath(stale), "").empty())
                std::filesystem::remove(stale, ec);
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
