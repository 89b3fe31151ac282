#include "server/Module.h"

#include <atomic>

namespace trutina_server {

namespace {
std::atomic<long> GObjects{0};
std::atomic<long> GLocks{0};
} // namespace

void ObjectCreated() noexcept { ++GObjects; }
void ObjectDestroyed() noexcept { --GObjects; }
void LockModule(bool lock) noexcept
{
    if (lock)
        ++GLocks;
    else
        --GLocks;
}
long LiveObjects() noexcept { return GObjects.load(); }
HRESULT CanUnloadNow() noexcept { return GObjects.load() == 0 && GLocks.load() == 0 ? S_OK : S_FALSE; }

} // namespace trutina_server
