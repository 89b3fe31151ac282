// The COM class Statera of the substitute driver: ITrutina over TScaleDriver, with the data event
// raised on the apartment thread that created the object.
#pragma once

#include "server/TrutinaServer.h"
#include "simulator/ScaleDriver.h"
#include "simulator/SettingsStore.h"

#include <memory>

namespace trutina {

class TStateraObject final : public trutina_server::TTrutinaServerBase {
public:
    TStateraObject();

    // ITrutina: one operation per member of the member table.
#define STATERA_DECLARE_RO(n, name, type, ...) HRESULT STDMETHODCALLTYPE get_##name(type* Value) override;
#define STATERA_DECLARE_RW(n, name, type, ...) \
    STATERA_DECLARE_RO(n, name, type)     \
    HRESULT STDMETHODCALLTYPE put_##name(type Value) override;
#define STATERA_DECLARE_METHOD(n, name, ...) HRESULT STDMETHODCALLTYPE name(LONG* Result) override;
    TRUTINA_MEMBERS(STATERA_DECLARE_RO, STATERA_DECLARE_RW, STATERA_DECLARE_METHOD)
#undef STATERA_DECLARE_RO
#undef STATERA_DECLARE_RW
#undef STATERA_DECLARE_METHOD

private:
    class TEventGate;
    ~TStateraObject() override;

    // Ends a method: Result gets the result code (or the given value on success).
    HRESULT EndMethod(LONG* Result, TResult code, std::optional<LONG> valueOnSuccess = std::nullopt);

    TSettingsStore FStore;
    std::unique_ptr<TScaleDriver> FDriver;
    std::shared_ptr<TEventGate> FGate;
    bool FDialogOpen = false;
};

} // namespace trutina
