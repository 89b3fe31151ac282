// A server module whose registration fails: DllRegisterServer answers SELFREG_E_CLASS and writes
// nothing.
#include "platform/export.h"
#include "platform/ole.h"

extern "C" PONDERIX_EXPORT HRESULT DllRegisterServer() { return SELFREG_E_CLASS; }
