// The attributes of a shared library's interface: its own build exports what its users import.
// Each library names its own macro from these two, by whether it is being built.
#pragma once

#ifdef _WIN32
#define PONDERIX_EXPORT __declspec(dllexport)
#define PONDERIX_IMPORT __declspec(dllimport)
#else
#define PONDERIX_EXPORT __attribute__((visibility("default")))
#define PONDERIX_IMPORT
#endif
