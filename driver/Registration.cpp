#include "driver/Registration.h"

#include "platform/classregistry.h"
#include "platform/comptr.h"
#include "platform/module.h"
#include "runtime/exceptions.h"

const char* const DriverPromptFormat =
    "Необходимо зарегистрировать драйвер. \rУкажите местоположение файла драйвера %s";

namespace {

// An object of the driver class that offers ITrutina, or nothing.
platform::ComPtr<ITrutina> TryCreateDriver()
{
    platform::ComPtr<IUnknown> object;
    if (FAILED(CoCreateInstance(CLSID_Statera, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                object.OutVoid())) ||
        !object)
        return nullptr;
    platform::ComPtr<ITrutina> driver;
    if (FAILED(object.As(IID_ITrutina, driver)))
        return nullptr;
    return driver;
}

} // namespace

namespace {

// Tries create until it gives a driver, asking the operator between attempts; nobody to ask is
// as if the operator cancelled.
template <typename TCreate>
auto CreateOrAsk(TCreate create, const TAskAndRegisterServer& AskAndRegisterServer)
{
    for (;;) {
        if (auto driver = create())
            return driver;
        if (!AskAndRegisterServer)
            throw runtime::EAbort();
        AskAndRegisterServer(DriverPromptFormat, TRUTINA_MODULE_NAME);
    }
}

} // namespace

void EnsureDriverRegistered(platform::ComPtr<ITrutina>& Driver, const TAskAndRegisterServer& AskAndRegisterServer)
{
    Driver = nullptr;
    Driver = CreateOrAsk(TryCreateDriver, AskAndRegisterServer);
}

std::unique_ptr<driver::TDriverProcess> EnsureIsolatedDriverRegistered(const TAskAndRegisterServer& AskAndRegisterServer)
{
    return CreateOrAsk(
        []() -> std::unique_ptr<driver::TDriverProcess> {
            try {
                auto process = std::make_unique<driver::TDriverProcess>(CLSID_Statera);
                platform::ComPtr<ITrutina> driver;
                if (SUCCEEDED(process->Object().As(IID_ITrutina, driver)) && driver)
                    return process;
            } catch (const runtime::EOleException& e) {
                // A host that is missing or cannot start is no matter of registration.
                if (e.ErrorCode() == CO_E_SERVER_EXEC_FAILURE || e.ErrorCode() == E_NOTIMPL)
                    throw;
            }
            return nullptr;
        },
        AskAndRegisterServer);
}

void RegisterServerFile(const std::string& Path)
{
    // An empty path would load the program itself.
    if (Path.empty())
        return;
    try {
        platform::Module module(Path);
        if (!module.Loaded())
            return;
        using TRegister = HRESULT(STDAPICALLTYPE*)();
        auto registerServer = reinterpret_cast<TRegister>(module.Symbol("DllRegisterServer"));
        if (!registerServer)
            return;
        const platform::RegistrationDeadline deadline;
        // Without administrator rights the machine's classes cannot be written: the user's can.
        const platform::CurrentUserRegistration user(!platform::CanRegisterForAllUsers());
        registerServer(); // the next creation attempt tells whether it worked
    } catch (...) {
        // Reports nothing, whatever the file did.
    }
}
