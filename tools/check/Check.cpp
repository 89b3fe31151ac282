#include "tools/check/Check.h"

#include "driver/CallGuard.h"
#include "driver/DriverChild.h"
#include "platform/commandline.h"
#include "runtime/exceptions.h"
#include "runtime/utf.h"
#include "tools/ProgressLine.h"
#include "tools/check/GroupProcess.h"
#include "tools/check/Groups.h"
#include "tools/check/Report.h"
#include "tools/check/Sequences.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <random>
#include <set>

namespace check {

const char* const UsageText =
    "usage: ponderix-check [--module FILE] [--class PROGID|{CLSID}] [--com-only] [--seed N] [--out DIR]\n"
    "                      [--call-limit MS] [--sequences N] [--strict]\n"
    "  checks the driver registered for Statera (or the module FILE) against every COM and interface rule;\n"
    "  exit code 0: no rule broken (warnings allowed unless --strict), 1: a rule broken, 2: nothing could be checked\n";

namespace {

std::uint64_t WholeNumber(const std::string& option, const std::string& text, std::uint64_t most)
{
    std::uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 20;
    for (char c : text) {
        ok = ok && c >= '0' && c <= '9';
        if (ok) {
            if (value > (most - static_cast<unsigned>(c - '0')) / 10)
                ok = false;
            else
                value = value * 10 + static_cast<unsigned>(c - '0');
        }
    }
    if (!ok)
        throw runtime::Exception(option + " takes a whole number up to " + std::to_string(most) + ", not \"" + text + "\"");
    return value;
}

// The watchdog's limit: the checker always has one, or a driver that never returns would hang it.
std::chrono::milliseconds CallLimit(const std::string& source, const std::string& text)
{
    const std::string range = " takes whole milliseconds from " + std::to_string(driver::MinCallLimit.count()) + " to "
                              + std::to_string(driver::MaxCallLimit.count()) + " (ponderix-check always has a limit), not \""
                              + text.substr(0, 40) + "\"";
    std::uint64_t ms = 0;
    try {
        ms = WholeNumber(source, text, driver::MaxCallLimit.count());
    } catch (const runtime::Exception&) {
        throw runtime::Exception(source + range);
    }
    if (ms < static_cast<std::uint64_t>(driver::MinCallLimit.count()))
        throw runtime::Exception(source + range);
    return std::chrono::milliseconds(ms);
}

} // namespace

TOptions ParseArguments(const std::vector<std::string>& args)
{
    TOptions options;
    std::set<std::string> given;
    bool limitGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!given.insert(arg).second)
            throw runtime::Exception(arg + " is given twice");
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw runtime::Exception(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--module") {
            const std::string& module = value();
            if (module.empty())
                throw runtime::Exception("--module needs a file name (leave it out for the registered driver)");
            // A relative name means the current folder, never the loader's search.
            std::error_code ec;
            const auto absolute = std::filesystem::absolute(runtime::PathFromUtf8(module), ec).lexically_normal().make_preferred();
            options.Module = ec ? module : runtime::Utf8FromPath(absolute);
        } else if (arg == "--class") {
            options.Class = value();
            if (options.Class.empty())
                throw runtime::Exception("--class needs a ProgID or a class id");
        } else if (arg == "--com-only") {
            options.ComOnly = true;
        } else if (arg == "--strict") {
            options.Strict = true;
        } else if (arg == "--seed") {
            options.Seed = WholeNumber(arg, value(), UINT64_MAX);
        } else if (arg == "--out") {
            options.Out = value();
            if (options.Out.empty())
                throw runtime::Exception("--out needs a folder");
        } else if (arg == "--call-limit") {
            options.CallLimit = CallLimit(arg, value());
            limitGiven = true;
        } else if (arg == "--sequences") {
            options.Sequences = static_cast<int>(WholeNumber(arg, value(), 100000));
            if (options.Sequences == 0)
                throw runtime::Exception("--sequences takes 1 or more");
        } else {
            throw runtime::Exception("unknown argument " + arg);
        }
    }
    if (const char* limit = std::getenv("PONDERIX_CALL_LIMIT_MS"); !limitGiven && limit && *limit)
        options.CallLimit = CallLimit("PONDERIX_CALL_LIMIT_MS", limit);
    return options;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (!args.empty() && args[0] == driver::DriverChildArgument)
        return RunChild(std::vector<std::string>(args.begin() + 1, args.end()), err);
    TOptions options;
    try {
        options = ParseArguments(args);
    } catch (const runtime::Exception& e) {
        err << "ponderix-check: " << e.Message() << "\n" << UsageText;
        return kExitNothingChecked;
    }
    const std::uint64_t seed = options.Seed ? *options.Seed : (std::uint64_t(std::random_device{}()) << 32) ^ std::random_device{}();
    if (!options.Seed)
        err << "ponderix-check: seed " << seed << " (--seed " << seed << " repeats this run)\n";

    TChildSettings settings;
    if (!options.Module.empty())
        settings.TargetArguments.insert(settings.TargetArguments.end(), {"--module", options.Module});
    if (!options.Class.empty())
        settings.TargetArguments.insert(settings.TargetArguments.end(), {"--class", options.Class});
    if (options.ComOnly)
        settings.TargetArguments.push_back("--com-only");
    // The folder is made ready before the driver is called: a run that cannot write its findings
    // would hide a broken rule behind exit code 2.
    std::set<std::string> written;
    if (!options.Out.empty()) {
        if (const std::string why = PrepareOut(options.Out, written); !why.empty()) {
            err << "ponderix-check: --out: " << why << "\n";
            return kExitNothingChecked;
        }
    }
    settings.Seed = seed;
    settings.Sequences = options.Sequences;
    settings.CallLimit = options.CallLimit;
    if (!options.Module.empty())
        err << "ponderix-check: checking " << options.Module << "\n";

    std::vector<TRuleResult> found;
    std::string header;
    std::uint64_t calls = 0, sequenceCalls = 0;
    double sequenceSeconds = 0;
    const auto start = std::chrono::steady_clock::now();
    tools::TProgressLine line(err, platform::StandardErrorIsTerminal());
    for (TGroup group : {TGroup::Com, TGroup::Dispatch, TGroup::Sequences}) {
        const auto show = [&](const std::string& rule, int sequences, std::uint64_t groupCalls) {
            const std::string where =
                group == TGroup::Com        ? "COM rules: " + rule
                : group == TGroup::Dispatch ? "interface rules: " + rule
                                            : "sequence rules: " + std::to_string(sequences) + " of "
                                                  + std::to_string(settings.Sequences) + " sequences";
            line.Show("ponderix-check: " + where + ", " + std::to_string(calls + groupCalls) + " calls");
        };
        const TGroupOutcome run = RunGroupInChildren(group, settings, show);
        line.Clear();
        if (!run.NothingChecked.empty()) {
            err << "ponderix-check: nothing checked: " << run.NothingChecked << "\n";
            return kExitNothingChecked;
        }
        found.insert(found.end(), run.Results.begin(), run.Results.end());
        header = run.Header;
        calls += run.Calls;
        sequenceCalls += run.SequenceCalls;
        sequenceSeconds += run.SequenceSeconds;
    }
    const std::vector<TRuleResult> results = MergeResults(found, "an interface rule (--com-only)");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    for (const TRuleResult& r : results)
        out << ResultLine(r) << "\n";
    char figures[128];
    std::snprintf(figures, sizeof figures, "%llu driver calls in %.1f s", static_cast<unsigned long long>(calls), seconds);
    err << "ponderix-check: " << figures;
    if (sequenceSeconds > 0) {
        std::snprintf(figures, sizeof figures, "; random sequences: %.0f calls/s", sequenceCalls / sequenceSeconds);
        err << figures;
    }
    err << "\n";
    out << SummaryLine(results) << "\n";
    out.flush();

    bool broken = false;
    for (const TRuleResult& r : results)
        broken = broken || r.Verdict == TVerdict::Fail || (options.Strict && r.Verdict == TVerdict::Warn);
    if (!options.Out.empty()) {
        if (const std::string why = WriteOut(options.Out, header, results, "ponderix-check", written);
            !why.empty()) {
            err << "ponderix-check: --out: " << why << "\n";
            return broken ? kExitBroken : kExitNothingChecked; // a broken rule is never hidden
        }
    }
    return broken ? kExitBroken : kExitKept;
}

} // namespace check
