#include "forms/Application.h"

#include "platform/apartment.h"
#include "platform/ole.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTranslator>

namespace forms {
namespace {

TApplication* TheApplication = nullptr;

} // namespace

TApplication* Application()
{
    return TheApplication;
}

TApplication::TApplication()
{
    TheApplication = this;
    FComInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

    const int handle = platform::ApartmentNotifyHandle();
    if (handle >= 0) {
        FApartmentNotifier = new QSocketNotifier(handle, QSocketNotifier::Read, this);
        connect(FApartmentNotifier, &QSocketNotifier::activated, this, &TApplication::PumpApartment);
    }

    FPreviousHook = runtime::SetApplicationExceptionHook([this](std::exception_ptr e) {
        HandleException(nullptr, std::move(e));
    });
    // On Windows the system's message dispatch runs posted calls, outside PumpApartment.
    FPreviousPostedCallHandler = platform::SetPostedCallExceptionHandler([this](std::exception_ptr e) {
        HandleException(nullptr, std::move(e));
    });
}

TApplication::~TApplication()
{
    platform::SetPostedCallExceptionHandler(std::move(FPreviousPostedCallHandler));
    runtime::SetApplicationExceptionHook(std::move(FPreviousHook));
    delete FApartmentNotifier;
    FApartmentNotifier = nullptr;
    if (FComInitialized)
        CoUninitialize();
    if (TheApplication == this)
        TheApplication = nullptr;
}

void TApplication::PumpApartment()
{
    // Posted calls run inside Qt's event loop: nothing they raise may leave here.
    try {
        platform::PumpApartment();
    } catch (...) {
        HandleException(nullptr, std::current_exception());
    }
}

void TApplication::HandleException(QObject* Sender, std::exception_ptr E) noexcept
{
    if (!E)
        return;
    try {
        try {
            std::rethrow_exception(E);
        } catch (const runtime::EAbort&) {
            // The silent abort: not a word.
        } catch (const runtime::Exception& e) {
            FOnException(Sender, e);
        } catch (const std::exception& e) {
            FOnException(Sender, runtime::Exception(e.what()));
        } catch (...) {
            FOnException(Sender, runtime::Exception("Unknown exception"));
        }
    } catch (...) {
        // A failing handler must not take the event loop down.
    }
}

bool InstallQtTranslation(QTranslator& translator)
{
    return translator.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath))
           && QCoreApplication::installTranslator(&translator);
}

} // namespace forms
