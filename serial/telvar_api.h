// Export marker of the Telvar library: the export table is the interface.
#pragma once

#if defined(_WIN32)
#if defined(TELVAR_BUILDING)
#define TELVAR_API __declspec(dllexport)
#elif defined(TELVAR_STATIC)
#define TELVAR_API
#else
#define TELVAR_API __declspec(dllimport)
#endif
#else
#define TELVAR_API __attribute__((visibility("default")))
#endif
