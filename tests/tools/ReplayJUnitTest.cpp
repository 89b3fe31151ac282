// The JUnit report of ponderix-replay, read back with an XML reader: one test case per recorded
// action, the failed ones with their differences.
#include "ReplaySitting.h"

#include <QFile>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

struct TReport {
    int SuiteTests = -1;
    int SuiteFailures = -1;
    int TestCases = 0;
    int Failures = 0;
    QStringList FailureTexts;
    QString Error;
};

TReport ReadReport(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    TReport report;
    if (!file.open(QIODevice::ReadOnly)) {
        report.Error = "cannot open";
        return report;
    }
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"testsuite") {
            report.SuiteTests = xml.attributes().value("tests").toInt();
            report.SuiteFailures = xml.attributes().value("failures").toInt();
        } else if (xml.name() == u"testcase") {
            ++report.TestCases;
        } else if (xml.name() == u"failure") {
            ++report.Failures;
            report.FailureTexts << xml.readElementText();
        }
    }
    if (xml.hasError())
        report.Error = xml.errorString();
    return report;
}

class ReplayJUnit : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::ScriptSittingDriver();
        FRecording = FEnvironment.Folder() + "/sitting.jsonl";
        FActions = testsupport::RecordSitting(FRecording);
        fakedriver::Reset();
        testsupport::ScriptSittingDriver();
    }

    TFakeDriverEnvironment FEnvironment;
    std::string FRecording;
    int FActions = 0;
};

TEST_F(ReplayJUnit, TheReportCountsTheActionsAndTheFailedOnes)
{
    const std::string path = FEnvironment.Folder() + "/report.xml";
    const auto same = testsupport::RunReplay({FRecording, "--junit", path});
    ASSERT_EQ(same.ExitCode, 0) << same.Out << same.Err;
    TReport report = ReadReport(path);
    EXPECT_TRUE(report.Error.isEmpty()) << report.Error.toStdString();
    EXPECT_EQ(report.TestCases, FActions + 1);
    EXPECT_EQ(report.SuiteTests, FActions + 1);
    EXPECT_EQ(report.SuiteFailures, 0);
    EXPECT_EQ(report.Failures, 0);

    // Two actions differ; the texts (with quotes, Cyrillic and a line end) come back as written.
    fakedriver::SetReal("Weight", 2.5);
    fakedriver::SetTextUtf8("DeviceName", "<Весы & \"Ко\">");
    const auto changed = testsupport::RunReplay({FRecording, "--junit", path});
    ASSERT_EQ(changed.ExitCode, 1) << changed.Out << changed.Err;
    report = ReadReport(path);
    EXPECT_TRUE(report.Error.isEmpty()) << report.Error.toStdString();
    EXPECT_EQ(report.TestCases, FActions + 1);
    EXPECT_EQ(report.SuiteFailures, 2);
    ASSERT_EQ(report.Failures, 2);
    EXPECT_TRUE(report.FailureTexts[0].contains(u"get Weight: expected 1.25, got 2.5"));
    EXPECT_TRUE(report.FailureTexts[1].contains(QString::fromUtf8("got \"<Весы & \\\"Ко\\\">\"")))
        << report.FailureTexts[1].toStdString();
}

} // namespace
