// What a run prints and writes: one line per rule, the closing counts, the JUnit file and each
// finding's shortest recording.
#pragma once

#include "tools/check/Finding.h"

#include <string>
#include <vector>

namespace check {

// "PASS qi-identity", "FAIL refcount: Release: expected ..., observed ...", "SKIP unload: <reason>"
std::string ResultLine(const TRuleResult& result);
// "17 passed, 1 failed, 1 skipped"
std::string SummaryLine(const std::vector<TRuleResult>& results);
// JUnit XML: one test case per rule; a skipped rule says why.
std::string JUnitReport(const std::vector<TRuleResult>& results, const std::string& suiteName);

// Writes DIR/<id>.jsonl for each finding with a sequence (the header, then its lines; an earlier
// run's file of a rule without one is removed) and DIR/junit.xml, through the safe-file service. Empty on success, else what could not be written.
std::string WriteOut(const std::string& folder, const std::string& header, const std::vector<TRuleResult>& results,
                     const std::string& suiteName);

} // namespace check
