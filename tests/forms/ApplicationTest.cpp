// The application object's exception handling and the protected handler binding.
#include "forms/Application.h"
#include "forms/Binding.h"
#include "platform/apartment.h"
#include "runtime/apphook.h"

#include <QTest>
#include <thread>

#include <QPushButton>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Records what reaches it as the application's handler.
class TRecorder : public QObject {
public:
    void Handle(QObject* Sender, const runtime::Exception& E)
    {
        Senders.push_back(Sender);
        Messages.push_back(E.Message());
        IsConvertError.push_back(dynamic_cast<const runtime::EConvertError*>(&E) != nullptr);
    }
    std::vector<QObject*> Senders;
    std::vector<std::string> Messages;
    std::vector<bool> IsConvertError;
};

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSaved = App().OnException();
        App().SetOnException(forms::TExceptionHandler::Bind(&FRecorder, &TRecorder::Handle));
    }
    void TearDown() override { App().SetOnException(FSaved); }
    static forms::TApplication& App() { return *forms::Application(); }

    TRecorder FRecorder;
    forms::TExceptionHandler FSaved;
};

// The standard buttons of Qt's own dialogs (the registration prompt's) speak the program's Russian.
TEST(QtTranslationTest, TheStandardButtonsSpeakRussian)
{
    QTranslator translator;
    ASSERT_TRUE(forms::InstallQtTranslation(translator)) << "Qt's Russian translation (qtbase_ru.qm) is not installed";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    QCoreApplication::removeTranslator(&translator);
}

TEST_F(ApplicationTest, BoundHandlerExceptionsReachTheApplicationHandlerWithTheSender)
{
    QPushButton button;
    int calls = 0;
    struct TCase {
        std::function<void()> Throw;
        std::string Message; // empty: nothing must reach the handler
        bool ConvertError;
    };
    const std::vector<TCase> cases = {
        {[] { throw runtime::EConvertError("\"abc\" не является дробным числом"); },
         "\"abc\" не является дробным числом", true},
        {[] { throw std::runtime_error("plain failure"); }, "plain failure", false},
        {[] { throw 42; }, "Unknown exception", false},
        {[] { throw runtime::EAbort(); }, "", false},
        {[] {}, "", false},
    };
    for (const TCase& c : cases) {
        FRecorder.Messages.clear();
        FRecorder.Senders.clear();
        FRecorder.IsConvertError.clear();
        auto connection = forms::Bind(&button, &QPushButton::clicked, &button, [&] { ++calls; c.Throw(); });
        EXPECT_NO_THROW(button.click());
        QObject::disconnect(connection);
        if (c.Message.empty()) {
            EXPECT_TRUE(FRecorder.Messages.empty()) << FRecorder.Messages.front();
        } else {
            ASSERT_EQ(FRecorder.Messages.size(), 1u);
            EXPECT_EQ(FRecorder.Messages[0], c.Message);
            EXPECT_EQ(FRecorder.Senders[0], &button);
            EXPECT_EQ(FRecorder.IsConvertError[0], c.ConvertError);
        }
    }
    EXPECT_EQ(calls, static_cast<int>(cases.size()));
}

TEST_F(ApplicationTest, MemberHandlersGetTheirControlAsSender)
{
    struct TWindow : QObject {
        QObject* Seen = nullptr;
        void btnClick(QObject* Sender) { Seen = Sender; throw runtime::Exception("refused"); }
    } window;
    QPushButton button;
    forms::Bind(&button, &QPushButton::clicked, &window, FORMS_HANDLER(&TWindow::btnClick));
    button.click();
    EXPECT_EQ(window.Seen, &button);
    ASSERT_EQ(FRecorder.Messages.size(), 1u);
    EXPECT_EQ(FRecorder.Messages[0], "refused");
}

TEST_F(ApplicationTest, DriverEventsHandedToTheRuntimeHookLandThere)
{
    runtime::HandleApplicationException(std::make_exception_ptr(runtime::Exception("from the driver's event")));
    runtime::HandleApplicationException(std::make_exception_ptr(runtime::EAbort()));
    ASSERT_EQ(FRecorder.Messages.size(), 1u);
    EXPECT_EQ(FRecorder.Messages[0], "from the driver's event");
}

TEST_F(ApplicationTest, HandlerSavedAndRestoredByALaterWindow)
{
    TRecorder editor;
    const forms::TExceptionHandler saved = App().OnException();
    App().SetOnException(forms::TExceptionHandler::Bind(&editor, &TRecorder::Handle));
    forms::Protect(nullptr, [] { throw runtime::Exception("while the editor is open"); });
    App().SetOnException(saved);
    forms::Protect(nullptr, [] { throw runtime::Exception("after it closed"); });

    EXPECT_EQ(editor.Messages, std::vector<std::string>{"while the editor is open"});
    EXPECT_EQ(FRecorder.Messages, std::vector<std::string>{"after it closed"});
}

TEST_F(ApplicationTest, WithoutAHandlerOrWithItsObjectGoneExceptionsArePassedOverSilently)
{
    auto gone = std::make_unique<TRecorder>();
    App().SetOnException(forms::TExceptionHandler::Bind(gone.get(), &TRecorder::Handle));
    gone.reset();
    EXPECT_FALSE(static_cast<bool>(App().OnException()));
    EXPECT_NO_THROW(forms::Protect(nullptr, [] { throw runtime::Exception("nobody listens"); }));

    App().SetOnException({});
    EXPECT_NO_THROW(forms::Protect(nullptr, [] { throw runtime::Exception("nobody listens"); }));
}

TEST_F(ApplicationTest, AFailingHandlerDoesNotEscape)
{
    struct TThrower : QObject {
        void Handle(QObject*, const runtime::Exception&) { throw std::runtime_error("handler failed"); }
    } thrower;
    App().SetOnException(forms::TExceptionHandler::Bind(&thrower, &TThrower::Handle));
    EXPECT_NO_THROW(forms::Protect(nullptr, [] { throw runtime::Exception("x"); }));
}

} // namespace

namespace {

TEST_F(ApplicationTest, CallsPostedToTheApartmentRunInTheEventLoopAndTheirExceptionsAreCaught)
{
    const platform::ApartmentRef apartment = platform::CurrentApartment();
    ASSERT_TRUE(apartment) << "the application object puts the GUI thread in an apartment";
    int ran = 0;
    std::thread worker([&] {
        platform::PostToApartment(apartment, [&] { ++ran; });
        platform::PostToApartment(apartment, [] { throw runtime::Exception("posted call failed"); });
    });
    worker.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran == 1 && !FRecorder.Messages.empty(); }, 2000));
    EXPECT_EQ(FRecorder.Messages, std::vector<std::string>{"posted call failed"});
}

} // namespace
