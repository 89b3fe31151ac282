#include "tools/check/Check.h"

#include "driver/CallGuard.h"
#include "runtime/exceptions.h"
#include "runtime/utf.h"
#include "tools/check/Groups.h"
#include "tools/check/Report.h"
#include "tools/check/Sequences.h"

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <random>

namespace check {

namespace {

const char* const UsageText =
    "usage: ponderix-check [--module FILE] [--class PROGID|{CLSID}] [--com-only] [--seed N] [--out DIR]\n"
    "                      [--call-limit MS] [--sequences N]\n"
    "  checks the driver registered for Statera (or the module FILE) against every COM and interface rule;\n"
    "  exit code 0: no rule broken, 1: a rule broken, 2: nothing could be checked\n";

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

} // namespace

TOptions ParseArguments(const std::vector<std::string>& args)
{
    TOptions options;
    options.CallLimit = driver::CallLimitFromEnvironment();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
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
            const auto absolute = std::filesystem::absolute(runtime::PathFromUtf8(module), ec).make_preferred();
            options.Module = ec ? module : runtime::Utf8FromPath(absolute);
        } else if (arg == "--class") {
            options.Class = value();
            if (options.Class.empty())
                throw runtime::Exception("--class needs a ProgID or a class id");
        } else if (arg == "--com-only") {
            options.ComOnly = true;
        } else if (arg == "--seed") {
            options.Seed = WholeNumber(arg, value(), UINT64_MAX);
        } else if (arg == "--out") {
            options.Out = value();
            if (options.Out.empty())
                throw runtime::Exception("--out needs a folder");
        } else if (arg == "--call-limit") {
            options.CallLimit = std::chrono::milliseconds(WholeNumber(arg, value(), 24ull * 3600 * 1000));
        } else if (arg == "--sequences") {
            options.Sequences = static_cast<int>(WholeNumber(arg, value(), 100000));
            if (options.Sequences == 0)
                throw runtime::Exception("--sequences takes 1 or more");
        } else {
            throw runtime::Exception("unknown argument " + arg);
        }
    }
    return options;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
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
    TCalls::SetLimit(options.CallLimit);

    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct TUninitialize {
        HRESULT Init;
        ~TUninitialize()
        {
            if (SUCCEEDED(Init))
                CoUninitialize();
        }
    } uninitialize{init};

    std::unique_ptr<TTarget> target;
    try {
        target = std::make_unique<TTarget>(TTargetOptions{options.Module, options.Class, options.ComOnly});
    } catch (const std::exception& e) {
        err << "ponderix-check: nothing checked: " << e.what() << "\n";
        return kExitNothingChecked;
    }
    if (!options.Module.empty())
        err << "ponderix-check: checking " << options.Module << "\n";

    TSequenceOptions sequences;
    sequences.Seed = seed;
    sequences.Sequences = options.Sequences;
    std::vector<TRuleResult> found;
    std::uint64_t calls = 0, sequenceCalls = 0;
    double sequenceSeconds = 0;
    for (TGroup group : {TGroup::Com, TGroup::Dispatch, TGroup::Sequences}) {
        const TGroupRun run = RunGroupHere(*target, group, sequences);
        found.insert(found.end(), run.Results.begin(), run.Results.end());
        calls += run.Calls;
        sequenceCalls += run.SequenceCalls;
        sequenceSeconds += run.SequenceSeconds;
    }
    const std::vector<TRuleResult> results = MergeResults(found, "an interface rule (--com-only)");

    for (const TRuleResult& r : results)
        out << ResultLine(r) << "\n";
    char rate[64] = "";
    if (sequenceSeconds > 0)
        std::snprintf(rate, sizeof rate, "; random sequences: %.0f calls/s", sequenceCalls / sequenceSeconds);
    err << "ponderix-check: " << calls << " driver calls" << rate << "\n";
    out << SummaryLine(results) << "\n";
    out.flush();

    if (!options.Out.empty()) {
        if (const std::string why = WriteOut(options.Out, RecordingHeaderOf(*target), results, target->ClassIdText());
            !why.empty()) {
            err << "ponderix-check: cannot write " << why << "\n";
            return kExitNothingChecked;
        }
    }
    for (const TRuleResult& r : results)
        if (r.Verdict == TVerdict::Fail)
            return kExitBroken;
    return kExitKept;
}

} // namespace check
