// A library that is not a class server: it has no DllGetClassObject, and its registration fails.
#include "platform/ole.h"

STDAPI DllRegisterServer() { return E_ACCESSDENIED; }
STDAPI DllUnregisterServer() { return E_ACCESSDENIED; }
