// The operator's side of the registration check: the prompt, the choice of the driver file and
// its registration.
#pragma once

#include <QStringList>

#include <string>

// Shows the prompt (PromptFormat with FileName in place of %s) under the application's title with
// OK and Cancel; then the open-file dialog for the driver file; registers the chosen file with
// RegisterServerFile. Cancel in either raises runtime::EAbort.
void AskAndRegisterServer(const std::string& PromptFormat, const std::string& FileName);

// "Description|pattern|Description|pattern..." as Qt's name filters: "Description (patterns)".
QStringList ConvertFileFilter(const std::string& filter);

// The prompt's text: the format with the file name in place of the first %s.
std::string FormatPrompt(const std::string& format, const std::string& fileName);

// The open-file dialog's filter for the driver file.
extern const char* const DriverFileFilter;
