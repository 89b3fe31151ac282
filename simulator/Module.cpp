// The exports of Trutina.dll: the class factory of Statera, unloading and self-registration.
#include "simulator/StateraObject.h"

TRUTINA_SERVER_EXPORTS(trutina::TStateraObject, CLSID_Statera, "Trutina: simulated electronic scales driver")
