// The driver's settings as the text of its settings file: a JSON object (format 1) whose absent
// fields take their defaults. Shared by both forms of TSettingsStore.
#pragma once

#include "simulator/DriverSettings.h"

#include <optional>
#include <string>
#include <string_view>

namespace trutina {

// UTF-8, indented by four spaces, ending with a line end.
std::string SettingsToJson(const TDriverSettings& settings);
// nullopt, with the reason in problem, when the text is not a valid settings file.
std::optional<TDriverSettings> SettingsFromJson(std::string_view text, std::string* problem = nullptr);

} // namespace trutina
