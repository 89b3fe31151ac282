// What a run prints and writes: one line per rule, the closing counts, the JUnit file and each
// finding's shortest recording.
#pragma once

#include "tools/check/Finding.h"

#include <set>
#include <string>
#include <vector>

namespace check {

// "PASS qi-identity", "FAIL refcount: Release: expected ..., observed ...", "SKIP unload: <reason>"
std::string ResultLine(const TRuleResult& result);
// "17 passed, 1 failed, 1 skipped"
std::string SummaryLine(const std::vector<TRuleResult>& results);
// JUnit XML: one test case per rule; a skipped rule says why.
std::string JUnitReport(const std::vector<TRuleResult>& results, const std::string& suiteName);

// Before the run: makes the folder when nothing is there and replaces its junit.xml with the report
// of a run that has not finished, so that an unwritable folder is told before the driver is called
// and a run that cannot write its findings leaves no earlier verdict. written gets the rules whose
// recordings the earlier junit.xml (ours: it could be replaced) named. Empty on success, else why.
std::string PrepareOut(const std::string& folder, std::set<std::string>& written);

// Writes DIR/<id>.jsonl for each finding with a sequence (the header, then its lines) and then
// DIR/junit.xml, through the safe-file service; removes the earlier run's recordings (written) of
// the rules without one now. Empty on success, else what could not be written.
std::string WriteOut(const std::string& folder, const std::string& header, const std::vector<TRuleResult>& results,
                     const std::string& suiteName, const std::set<std::string>& written);

} // namespace check
