#pragma once
// Symbol export of the creator libraries: only the entry points leave the shared objects.
#if defined(_WIN32)
#if defined(ZEL_BUILDING_CREATORS)
#define ZEL_CREATOR_API __declspec(dllexport)
#else
#define ZEL_CREATOR_API __declspec(dllimport)
#endif
#else
#define ZEL_CREATOR_API __attribute__((visibility("default")))
#endif
