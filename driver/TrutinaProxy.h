// The proxy and stub of ITrutina that widl writes from the type library's IDL: a driver in a
// process of its own is reached through them. The system's type-library marshalling would do
// the same, but Wine's cannot marshal a currency (UnitPrice, SalesPrice).
#pragma once

#include "platform/ole.h"

#ifdef __cplusplus
extern "C" {
#endif

// Makes the calling thread's apartment marshal ITrutina with them, for this process only: no
// registry entry is written. Once per apartment; S_FALSE where calls never leave the process.
HRESULT RegisterTrutinaProxy(void);

#ifdef __cplusplus
}
#endif
