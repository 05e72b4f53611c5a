// Symbol visibility for the project's shared libraries.
#pragma once

#ifdef _WIN32
#define VORK_EXPORT __declspec(dllexport)
#define VORK_IMPORT __declspec(dllimport)
#else
#define VORK_EXPORT __attribute__((visibility("default")))
#define VORK_IMPORT __attribute__((visibility("default")))
#endif
