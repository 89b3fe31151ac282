// The driver registration check: make sure an object of the driver class can be created, else
// ask the operator for the driver file, register it through its DllRegisterServer and try again.
#pragma once

#include "driver/DriverProcess.h"
#include "driver/Trutina_TLB.h"
#include "platform/comptr.h"

#include <functional>
#include <memory>
#include <string>

// "Необходимо зарегистрировать драйвер. \rУкажите местоположение файла драйвера %s"
extern const char* const DriverPromptFormat;

// Shows the prompt (the format with the file name in place of %s), lets the operator choose the
// file and registers it with RegisterServerFile; raises runtime::EAbort when the operator cancels.
// The GUI supplies it.
using TAskAndRegisterServer = std::function<void(const std::string& PromptFormat, const std::string& FileName)>;

// Loops until an object of CLSID_Statera can be created and gives ITrutina; returns that
// reference in Driver. Between attempts calls AskAndRegisterServer(DriverPromptFormat,
// "Trutina.dll"); its EAbort leaves at once.
void EnsureDriverRegistered(platform::ComPtr<ITrutina>& Driver, const TAskAndRegisterServer& AskAndRegisterServer);

// The same check in isolated mode: loops until the driver's own process holds an object of
// CLSID_Statera that gives ITrutina, asking between attempts as above. A host that is missing or
// cannot start is no matter of registration: its runtime::EOleException leaves at once.
std::unique_ptr<driver::TDriverProcess> EnsureIsolatedDriverRegistered(const TAskAndRegisterServer& AskAndRegisterServer);

// Loads the file, calls its exported DllRegisterServer, unloads it; for the current user only when
// the user cannot register for all (platform::CanRegisterForAllUsers). Never raises, reports nothing.
void RegisterServerFile(const std::string& Path);
