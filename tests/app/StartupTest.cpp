// Start-up as the operator meets it: the registration prompt, the driver file dialog, the error
// box of a failed start, and the main window — run in-process through RunProgram, the modal
// windows answered by a timer as a user would.
#include "MainWindowTestSupport.h"
#include "platform/bitness.h"
#include "platform/classregistry.h"

#include "CraftedPe.h"

#include "app/AskAndRegister.h"
#include "app/Program.h"
#include "driver/Registration.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <fstream>
#include <functional>

namespace {

using testsupport::ActiveModal;

const QString Title = QString::fromUtf8("Тест: драйвер электронных весов");
const QString Prompt = QString::fromUtf8("Необходимо зарегистрировать драйвер. \rУкажите местоположение файла драйвера Trutina.dll");

TfmMain* OpenMainWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* form = qobject_cast<TfmMain*>(w); form && form->isVisible())
            return form;
    return nullptr;
}

// What the operator met, in order: "prompt", "dialog", "error:<text>", "window".
struct TOperator {
    std::vector<std::string> Met;
    // The answers, consumed in order: for a prompt true = OK; for the dialog a path, or empty
    // to cancel. The window is closed with "Закрыть".
    std::vector<bool> PromptAnswers;
    std::vector<std::string> DialogAnswers;
    // The informative text of each prompt.
    std::vector<std::string> PromptNotes;

    // Looks at the screen every 20 ms until the run is over or this operator goes.
    void Start()
    {
        FTimer = std::make_unique<QTimer>();
        QObject::connect(FTimer.get(), &QTimer::timeout, [this] {
            if (Step())
                FTimer->stop();
        });
        FTimer->start(20);
    }
    std::unique_ptr<QTimer> FTimer;

    // One look at the screen; true when the run is over for this operator.
    bool Step()
    {
        if (auto* box = ActiveModal<QMessageBox>()) {
            if (box->icon() == QMessageBox::Warning) {
                Met.push_back("prompt");
                PromptNotes.push_back(box->informativeText().toStdString());
                EXPECT_EQ(box->text(), Prompt);
                EXPECT_EQ(box->windowTitle(), Title);
                EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
                ASSERT_NE(box->button(QMessageBox::Cancel), nullptr), false;
                const bool ok = !PromptAnswers.empty() && PromptAnswers.front();
                if (!PromptAnswers.empty())
                    PromptAnswers.erase(PromptAnswers.begin());
                QTest::mouseClick(box->button(ok ? QMessageBox::Ok : QMessageBox::Cancel), Qt::LeftButton);
            } else {
                Met.push_back("error:" + box->text().toStdString());
                EXPECT_EQ(box->windowTitle(), Title);
                EXPECT_EQ(box->buttons().size(), 1);
                QTest::mouseClick(box->buttons().front(), Qt::LeftButton);
            }
            return false;
        }
        if (auto* dialog = ActiveModal<QFileDialog>()) {
            Met.push_back("dialog");
            CheckDialogSettings(*dialog);
            const std::string path = DialogAnswers.empty() ? std::string() : DialogAnswers.front();
            if (!DialogAnswers.empty())
                DialogAnswers.erase(DialogAnswers.begin());
            if (path.empty()) {
                dialog->reject();
            } else {
                // Pasted into the name field (typing would open the completer), then "Open". The
                // field has the focus, as when a user types: only then does the dialog drop the
                // preselected "Trutina.dll" when it is in the folder shown (on Windows it is).
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                QApplication::setActiveWindow(dialog);
                name->setFocus(Qt::MouseFocusReason);
                EXPECT_TRUE(name->hasFocus());
                name->setText(QString::fromStdString(path));
                auto* buttons = dialog->findChild<QDialogButtonBox*>();
                QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
            }
            return false;
        }
        if (TfmMain* form = OpenMainWindow()) {
            Met.push_back("window");
            QTest::mouseClick(form->btnClose, Qt::LeftButton);
            return true;
        }
        return false;
    }

    static void CheckDialogSettings(QFileDialog& dialog)
    {
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.defaultSuffix(), "dll");
        EXPECT_EQ(dialog.nameFilters(),
                  QStringList({QString::fromUtf8("Драйвер (*.dll)"), QString::fromUtf8("Компонент OCX (*.OCX)"),
                               QString::fromUtf8("Все файлы (*.*)")}));
        EXPECT_EQ(dialog.selectedNameFilter(), QString::fromUtf8("Драйвер (*.dll)"));
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->text(), "Trutina.dll");
    }
};

class StartupTest : public ::testing::Test {
protected:
    int Run(TOperator& op)
    {
        op.Start();
        return RunProgram(*forms::Application(), AskAndRegisterServer);
    }
};

TEST_F(StartupTest, RegisteredDriverOpensTheWindowWithoutAPrompt)
{
    TFakeDriverEnvironment environment;
    TOperator op;
    EXPECT_EQ(Run(op), 0);
    EXPECT_EQ(op.Met, std::vector<std::string>{"window"});
    EXPECT_EQ(fakedriver::LiveInstances(), 0);
    EXPECT_EQ(forms::Application()->Title(), Title);
}

TEST_F(StartupTest, CancelAtThePromptEndsWithoutWindowOrMessage)
{
    TFakeDriverEnvironment environment(false);
    TOperator op;
    op.PromptAnswers = {false};
    EXPECT_EQ(Run(op), 0);
    EXPECT_EQ(op.Met, std::vector<std::string>{"prompt"});
}

TEST_F(StartupTest, CancelInTheFileDialogEndsWithoutWindowOrMessage)
{
    TFakeDriverEnvironment environment(false);
    TOperator op;
    op.PromptAnswers = {true};
    op.DialogAnswers = {""};
    EXPECT_EQ(Run(op), 0);
    EXPECT_EQ(op.Met, (std::vector<std::string>{"prompt", "dialog"}));
}

TEST_F(StartupTest, AFileThatIsNotAServerBringsThePromptBackUntilTheDriverIsChosen)
{
    TFakeDriverEnvironment environment(false);
    const std::string notAServer = environment.Folder() + "/NotAServer.dll";
    std::ofstream(notAServer) << "not a library";
    TOperator op;
    op.PromptAnswers = {true, true};
    op.DialogAnswers = {notAServer, fakedriver::ModulePath()};
    EXPECT_EQ(Run(op), 0);
    EXPECT_EQ(op.Met, (std::vector<std::string>{"prompt", "dialog", "prompt", "dialog", "window"}));
    std::string registered;
    EXPECT_EQ(platform::LookupInprocServer(CLSID_Statera, registered), S_OK);
    EXPECT_EQ(registered, fakedriver::ModulePath());
}

TEST_F(StartupTest, AFailingFirstRefreshShowsOneErrorBoxAndEndsWithZero)
{
    TFakeDriverEnvironment environment;
    fakedriver::ScriptFailure("Weight", E_FAIL, std::string("Весы не отвечают."));
    TOperator op;
    EXPECT_EQ(Run(op), 0);
    EXPECT_EQ(op.Met, std::vector<std::string>{"error:Весы не отвечают"});
    EXPECT_EQ(fakedriver::LiveInstances(), 0) << "what was created is destroyed";
    EXPECT_FALSE(static_cast<bool>(forms::Application()->OnException())) << "no handler was installed";
}

TEST_F(StartupTest, AnObjectWithoutTheDriverInterfaceIsAskedForAgain)
{
    TFakeDriverEnvironment environment;
    fakedriver::OfferTrutina(false);
    TOperator op;
    op.PromptAnswers = {false};
    EXPECT_EQ(Run(op), 0);
    EXPECT_EQ(op.Met, std::vector<std::string>{"prompt"});
}

// What keeps the driver from loading, where the program can tell, is named under the prompt: a
// damaged class registry (registering cannot help until it is repaired), a registered driver of
// the other bitness (with the Ponderix that loads it); an intact registry without a driver adds
// nothing.
TEST_F(StartupTest, WhatKeepsTheDriverFromLoadingIsNamedUnderThePrompt)
{
#ifdef _WIN32
    GTEST_SKIP() << "the class registry is the system's on Windows, not a file this program can find damaged";
#endif
    const int other = 96 - platform::kProgramBitness;
    const std::string bits = std::to_string(other);
    const struct {
        const char* name;
        // Prepares the registry; gives the note expected (empty: none), or its beginning and parts.
        std::function<std::vector<std::string>(TFakeDriverEnvironment&)> make;
    } rows[] = {
        {"intact", [](TFakeDriverEnvironment&) { return std::vector<std::string>{""}; }},
        {"damaged",
         [](TFakeDriverEnvironment& environment) {
             std::ofstream(environment.RegistryPath(), std::ios::app) << "not a registry line\n";
             return std::vector<std::string>{"Реестр классов не может быть использован: class registry " +
                                             environment.RegistryPath() + ": damaged, line "};
         }},
        {"other bitness",
         [&](TFakeDriverEnvironment& environment) {
             const std::string module = environment.Folder() + "/Trutina.dll";
             std::ofstream(module, std::ios::binary) << testenv::CraftedPeHead(other == 32 ? 0x014C : 0x8664);
             EXPECT_EQ(platform::RegisterInprocServer(CLSID_Statera, module, "Apartment", ""), S_OK);
             return std::vector<std::string>{
                 "Зарегистрированный драйвер " + module + " — " + bits + "-разрядный модуль, а эта программа " +
                     std::to_string(platform::kProgramBitness) + "-разрядная и загрузить его в свой процесс не может.",
                 "Запустите её с ключом --isolated",
                 "или " + bits + "-разрядную программу из ponderix-" PROJECT_VERSION "-win" + bits + ".zip"};
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TFakeDriverEnvironment environment(false);
        const std::vector<std::string> expected = row.make(environment);
        TOperator op; // goes, with its timer, before the next run
        op.PromptAnswers = {false};
        EXPECT_EQ(Run(op), 0);
        ASSERT_EQ(op.PromptNotes.size(), 1u);
        const std::string& note = op.PromptNotes[0];
        if (expected.front().empty()) {
            EXPECT_EQ(note, "");
        }
        EXPECT_EQ(note.rfind(expected.front(), 0), 0u) << note;
        for (const std::string& part : expected) {
            EXPECT_NE(note.find(part), std::string::npos) << note;
        }
    }
}

TEST(FileFilter, ConvertedToQtNameFilters)
{
    EXPECT_EQ(ConvertFileFilter(DriverFileFilter),
              QStringList({QString::fromUtf8("Драйвер (*.dll)"), QString::fromUtf8("Компонент OCX (*.OCX)"),
                           QString::fromUtf8("Все файлы (*.*)")}));
    EXPECT_EQ(ConvertFileFilter("Модули|*.so;*.dll|Всё|*"),
              QStringList({QString::fromUtf8("Модули (*.so *.dll)"), QString::fromUtf8("Всё (*)")}));
    EXPECT_EQ(FormatPrompt(DriverPromptFormat, "Trutina.dll"), Prompt.toStdString());
}

} // namespace
