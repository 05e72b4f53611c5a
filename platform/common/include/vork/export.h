// Symbol visibility for the project's shared libraries.
#pragma once

#ifdef _WIN32
#define VORK_EXPORT __declspec(dllexport)
#define VORK_IMPORT __declspec(dllimport)
// Windows finds a module's entry point without an export.
#define VORK_ENTRY_POINT
#else
#define VORK_EXPORT __attribute__((visibility("default")))
#define VORK_IMPORT __attribute__((visibility("default")))
// The simulated loader looks the entry point up by name.
#define VORK_ENTRY_POINT __attribute__((visibility("default")))
#endif
