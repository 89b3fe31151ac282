// The program's text (UTF-8, runtime's text type) as Qt's: the one conversion at the Qt boundary.
#pragma once

#include <QString>

namespace forms {

inline QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

} // namespace forms
