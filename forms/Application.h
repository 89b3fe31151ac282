// The application object: the program's title, the application-wide exception handler that the
// current window installs, and the apartment's call queue wired into Qt's event loop.
#pragma once

#include "runtime/apphook.h"
#include "runtime/exceptions.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;
class QTranslator;

namespace forms {

// An exception handler bound to an object: it answers only while that object lives.
class TExceptionHandler {
public:
    using TMethod = std::function<void(QObject* Sender, const runtime::Exception& E)>;

    TExceptionHandler() = default;
    TExceptionHandler(QObject* target, TMethod method) : FTarget(target), FMethod(std::move(method)) {}

    template <typename T>
    static TExceptionHandler Bind(T* target, void (T::*method)(QObject*, const runtime::Exception&))
    {
        return TExceptionHandler(target, [target, method](QObject* Sender, const runtime::Exception& E) {
            (target->*method)(Sender, E);
        });
    }

    QObject* Target() const { return FTarget.data(); }
    // True while bound and its object alive.
    explicit operator bool() const { return FMethod && !FTarget.isNull(); }
    void operator()(QObject* Sender, const runtime::Exception& E) const
    {
        if (*this)
            FMethod(Sender, E);
    }

private:
    QPointer<QObject> FTarget;
    TMethod FMethod;
};

class TApplication : public QObject {
    Q_OBJECT
public:
    // Needs a QApplication. Initialises COM for the calling (GUI) thread as a single-threaded
    // apartment, watches the apartment's call queue, and takes over the runtime's exception hook.
    TApplication();
    ~TApplication() override;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Caption of the program's message boxes.
    const QString& Title() const { return FTitle; }
    void SetTitle(const QString& title) { FTitle = title; }

    TExceptionHandler OnException() const { return FOnException; }
    void SetOnException(TExceptionHandler handler) { FOnException = std::move(handler); }

    // What becomes of an exception that escaped an event handler: the silent abort is passed
    // over; anything else goes to the installed handler, or is passed over when there is none.
    void HandleException(QObject* Sender, std::exception_ptr E) noexcept;

    // Runs the calls that worker threads posted to this thread's apartment.
    void PumpApartment();

private:
    QString FTitle;
    TExceptionHandler FOnException;
    bool FComInitialized = false;
    QSocketNotifier* FApartmentNotifier = nullptr;
    runtime::TExceptionHook FPreviousHook;
    std::function<void(std::exception_ptr)> FPreviousPostedCallHandler;
};

// The one application object, or nullptr when none exists.
TApplication* Application();

// Installs Qt's own Russian translation into the application, so that its standard buttons and
// dialogs speak the program's language ("Отмена", not "Cancel"), whatever the system's language:
// from Qt's translations folder (Debian's qt6-translations-l10n; beside the program on Windows).
// False when it is not there.
bool InstallQtTranslation(QTranslator& translator);

} // namespace forms
