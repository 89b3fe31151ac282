// Off Windows calls never leave the process: no proxy to register.
#include "driver/TrutinaProxy.h"

extern "C" HRESULT RegisterTrutinaProxy(void) { return S_FALSE; }
