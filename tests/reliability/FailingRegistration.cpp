// A server module whose registration fails: DllRegisterServer answers SELFREG_E_CLASS and writes
// nothing.
#include "platform/ole.h"

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() { return SELFREG_E_CLASS; }
