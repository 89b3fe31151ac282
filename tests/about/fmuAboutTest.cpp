// The About window through ShowAboutBox, driven as a user would: a timer finds the modal window,
// looks at it and presses keys in it.
#include "about/Developer.h"
#include "about/fmuAbout.h"

#include "platform/resources.h"
#include "runtime/exceptions.h"

#include "../forms/QtTestApp.h"

#include <QDesktopServices>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using testsupport::ActiveModal;
using testsupport::WhenReady;

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

QStringList Items(const QListWidget* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

// Runs ShowAboutBox; once its window is up, look(form) runs and then close(form) closes it.
// Returns whether the window was seen; the window must be gone when ShowAboutBox returns.
struct TOpening {
    bool Seen = false;
    int Result = -1;
    QPointer<TfmAbout> Form;
};

TOpening OpenAbout(QWidget* parent, const QString& title, const QStringList& lines,
                   const std::function<void(TfmAbout*)>& look, const std::function<void(TfmAbout*)>& close)
{
    TOpening opening;
    WhenReady([&] {
        TfmAbout* form = ActiveModal<TfmAbout>();
        if (!form)
            return false;
        opening.Seen = true;
        opening.Form = form;
        QObject::connect(form, &QDialog::finished, [&opening](int result) { opening.Result = result; });
        look(form);
        close(form);
        return true;
    });
    ShowAboutBox(parent, title, lines);
    return opening;
}

void PressOk(TfmAbout* form) { QTest::keyClick(form, Qt::Key_Return); }

class AboutTest : public ::testing::Test {
protected:
    QWidget Owner;
    void SetUp() override { ASSERT_TRUE(testsupport::ShowActive(&Owner)); }
};

TEST_F(AboutTest, ShowsTheTitleTheLinesInOrderAndTheDevelopersData)
{
    const QStringList lines = {Text("Версия теста: 6.0.0.2"), Text("Версия драйвера: "), Text("третья")};
    const auto opening = OpenAbout(&Owner, Text("Электронные весы"), lines, [&](TfmAbout* form) {
        EXPECT_EQ(form->windowTitle(), Text("О драйвере"));
        EXPECT_EQ(form->NameLabel->text(), Text("Электронные весы"));
        EXPECT_EQ(Items(form->lbVersion), lines);
        EXPECT_EQ(form->lblFirmName->text(), Text("Разработка: ") + Text(about::DeveloperName));
        EXPECT_EQ(form->lblAddress->text(), Text(about::DeveloperAddress) + "\n" + Text(about::DeveloperPhone));
        EXPECT_EQ(form->lblWebSite->text(), Text("Наш Web-сайт:"));
        EXPECT_EQ(form->lblSupport->text(), Text("Тех. поддержка:"));
        // An address wider than its label is shortened in the middle, the whole one in the tool tip.
        const struct {
            QLabel* Link;
            const char* Address;
        } links[] = {{form->lblURL, about::DeveloperWebAddress}, {form->lblSupportMail, about::DeveloperSupportMail}};
        for (const auto& [link, address] : links) {
            const QString shown = link->text();
            EXPECT_LE(link->fontMetrics().horizontalAdvance(shown), link->width()) << address;
            if (shown == Text(address))
                EXPECT_TRUE(link->toolTip().isEmpty()) << address;
            else {
                EXPECT_EQ(link->toolTip(), Text(address));
                EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
            }
        }
        EXPECT_EQ(form->btnOK->text(), "OK");
        EXPECT_EQ(form->parentWidget(), &Owner) << "stays above the window that opened it";
        EXPECT_FALSE(form->windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(form->windowFlags() & Qt::WindowMinMaxButtonsHint);
        EXPECT_FALSE(form->windowFlags() & Qt::WindowSystemMenuHint);
    }, PressOk);
    EXPECT_TRUE(opening.Seen);
}

TEST_F(AboutTest, ControlsStandAtTheirPlacesInAFixedClientArea)
{
    OpenAbout(&Owner, "t", {}, [](TfmAbout* form) {
        EXPECT_EQ(form->size(), QSize(335, 232));
        EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "fixed size";
        const struct {
            QWidget* Control;
            QRect Place;
        } table[] = {
            {form->NameLabel, {88, 4, 249, 25}},      {form->bvlInfo, {88, 34, 241, 57}},
            {form->lblFirmName, {93, 37, 225, 13}},   {form->lbVersion, {88, 96, 241, 45}},
            {form->lblWebSite, {88, 146, 97, 13}},    {form->lblURL, {192, 146, 145, 13}},
            {form->lblSupport, {88, 162, 97, 13}},    {form->lblSupportMail, {192, 162, 145, 13}},
            {form->btnOK, {128, 202, 89, 25}},
        };
        for (const auto& row : table)
            EXPECT_EQ(row.Control->geometry(), row.Place) << row.Control->objectName().toStdString()
                                                          << " at " << row.Place.x() << "," << row.Place.y();
        EXPECT_EQ(form->lblAddress->pos(), QPoint(92, 50));
        EXPECT_EQ(form->lbVersion->focusPolicy(), Qt::NoFocus) << "not a tab stop";
        EXPECT_TRUE(form->btnOK->isDefault());
        EXPECT_EQ(form->lblURL->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_EQ(form->lblSupportMail->cursor().shape(), Qt::PointingHandCursor);
    }, PressOk);
}

TEST_F(AboutTest, FontsAreSetWhenShown)
{
    OpenAbout(&Owner, "t", {}, [](TfmAbout* form) {
        const QFont base = form->font();
        EXPECT_EQ(base.pointSize(), 8);
        EXPECT_EQ(form->NameLabel->font().pointSize(), 12);
        EXPECT_TRUE(form->NameLabel->font().bold());
        EXPECT_EQ(form->NameLabel->palette().color(QPalette::WindowText), QColor(0, 0, 128));
        EXPECT_TRUE(form->lblFirmName->font().bold());
        for (QLabel* link : {static_cast<QLabel*>(form->lblURL), static_cast<QLabel*>(form->lblSupportMail)}) {
            EXPECT_TRUE(link->font().underline());
            EXPECT_FALSE(link->font().bold());
            EXPECT_EQ(link->font().pointSize(), 8);
            EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        }
    }, PressOk);
}

TEST_F(AboutTest, PaintsTheStripTheRulesAndTheLogo)
{
    OpenAbout(&Owner, "t", {}, [](TfmAbout* form) {
        ASSERT_NE(form->Logo(), nullptr);
        const QImage logo = form->Logo()->convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(logo.size(), QSize(69, 61));

        const QImage shot = form->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shot.size(), QSize(335, 232)) << "grabbed at one pixel per pixel";
        const QRgb background = shot.pixel(83, 100);
        const QRgb white = qRgb(255, 255, 255), gray = qRgb(128, 128, 128), black = qRgb(0, 0, 0);
        const struct {
            int X, Y;
            QRgb Colour;
        } table[] = {
            {5, 7, gray},    {80, 7, gray},   {5, 189, gray},  {6, 8, white},    {80, 189, white},
            {40, 150, white}, {88, 26, black}, {334, 26, black}, {334, 28, black}, {0, 196, black},
            {334, 196, black},
        };
        for (const auto& p : table)
            EXPECT_EQ(shot.pixel(p.X, p.Y), p.Colour) << "at " << p.X << "," << p.Y;
        EXPECT_NE(background, white) << "the strip ends at x 80";
        EXPECT_EQ(shot.pixel(81, 100), background);
        EXPECT_EQ(shot.pixel(40, 190), background) << "the strip ends at y 189";
        EXPECT_EQ(shot.pixel(334, 27), background) << "two rules with a gap";
        EXPECT_EQ(shot.pixel(334, 197), background);
        int differing = 0;
        for (int y = 0; y < logo.height(); ++y)
            for (int x = 0; x < logo.width(); ++x)
                differing += shot.pixel(10 + x, 15 + y) != logo.pixel(x, y);
        EXPECT_EQ(differing, 0) << "the logo at (10, 15)";
    }, PressOk);
}

TEST_F(AboutTest, EnterAndEscapeBothPressOk)
{
    const struct {
        Qt::Key Key;
        const char* Name;
    } keys[] = {{Qt::Key_Return, "Return"}, {Qt::Key_Enter, "Enter"}, {Qt::Key_Escape, "Escape"}};
    for (const auto& key : keys) {
        int okClicks = 0;
        const auto opening = OpenAbout(
            &Owner, "t", {},
            [&](TfmAbout* form) { QObject::connect(form->btnOK, &QPushButton::clicked, [&] { ++okClicks; }); },
            [&](TfmAbout* form) { QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : form, key.Key); });
        EXPECT_TRUE(opening.Seen) << key.Name;
        EXPECT_EQ(okClicks, 1) << key.Name;
        EXPECT_EQ(opening.Result, QDialog::Accepted) << key.Name;
        EXPECT_TRUE(opening.Form.isNull()) << key.Name << ": destroyed when closed";
    }
}

TEST_F(AboutTest, EachOpeningIsANewWindowInItsInitialState)
{
    QPointer<TfmAbout> first;
    OpenAbout(&Owner, Text("Первое"), {"a", "b"}, [&](TfmAbout* form) {
        first = form;
        form->lbVersion->setCurrentRow(1);
        form->lbVersion->addItem("extra");
    }, PressOk);
    EXPECT_TRUE(first.isNull()) << "destroyed when closed";

    OpenAbout(&Owner, Text("Второе"), {"c"}, [&](TfmAbout* form) {
        EXPECT_EQ(form->NameLabel->text(), Text("Второе"));
        EXPECT_EQ(Items(form->lbVersion), QStringList{"c"});
        EXPECT_EQ(form->lbVersion->currentRow(), -1);
        EXPECT_EQ(form->focusWidget(), form->btnOK);
        ASSERT_NE(form->Logo(), nullptr);
    }, PressOk);
}

// Records the addresses handed to the desktop.
class TUrlRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> Opened;
public slots:
    void open(const QUrl& url) { Opened.push_back(url); }
};

TEST_F(AboutTest, TheLinksOpenTheWebAddressAndAMailToSupport)
{
    TUrlRecorder recorder;
    for (const char* scheme : {"https", "http", "mailto"})
        QDesktopServices::setUrlHandler(scheme, &recorder, "open");
    OpenAbout(&Owner, "t", {}, [](TfmAbout* form) {
        QTest::mouseClick(form->lblURL, Qt::LeftButton);
        QTest::mouseClick(form->lblSupportMail, Qt::LeftButton);
        QTest::mouseClick(form->lblWebSite, Qt::LeftButton); // not a link
        QTest::mouseClick(form->lblURL, Qt::RightButton);    // not a click of the link
    }, PressOk);
    for (const char* scheme : {"https", "http", "mailto"})
        QDesktopServices::unsetUrlHandler(scheme);

    ASSERT_EQ(recorder.Opened.size(), 2u);
    EXPECT_EQ(recorder.Opened[0], QUrl(Text(about::DeveloperWebAddress)));
    EXPECT_EQ(recorder.Opened[1], QUrl(Text("mailto:") + Text(about::DeveloperSupportMail)));
}

TEST_F(AboutTest, ALogoThatCannotBeLoadedOpensNoWindow)
{
    platform::ResourceData logo;
    ASSERT_TRUE(platform::FindProgramResource(platform::RT_BITMAP_ID, "LOGOBMP", logo));
    const char notABitmap[] = "not a bitmap";
    platform::RegisterProgramResource(platform::RT_BITMAP_ID, "LOGOBMP", notABitmap, sizeof notABitmap);
    bool seen = false;
    WhenReady([&] {
        if (auto* form = ActiveModal<TfmAbout>()) {
            seen = true;
            form->close();
        }
        return false;
    }, 20, 300);
    EXPECT_THROW(ShowAboutBox(&Owner, "t", {}), runtime::Exception);
    QTest::qWait(350);
    platform::RegisterProgramResource(platform::RT_BITMAP_ID, "LOGOBMP", logo.Data, logo.Size);
    EXPECT_FALSE(seen);
    EXPECT_TRUE(Owner.findChildren<TfmAbout*>().isEmpty()) << "nothing left behind";
}

} // namespace

#include "fmuAboutTest.moc"
