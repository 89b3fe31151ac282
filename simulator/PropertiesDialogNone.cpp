// The build without Qt has no settings dialog: ShowProperties reports that it needs a graphical
// user interface, as a process without one does in the Qt build.
#include "simulator/ShowProperties.h"

namespace trutina {

TResult ShowPropertiesDialog(TScaleDriver&) { return TResult::NoGui; }

} // namespace trutina
