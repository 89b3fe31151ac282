// What the windows' own controls tell assistive technology (Qt's accessibility tree): a status flag
// is a check box that cannot be changed, an arrow pair is a spin control with named arrows.
#pragma once

namespace forms {

// Installs the accessibility factory for TStatusFlag and TArrowPair once per process; their
// constructors call it.
void InstallAccessibleControls();

} // namespace forms
