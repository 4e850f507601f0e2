#pragma once
// Symbol export of the creator libraries: only the entry points leave the shared objects.
#if defined(_WIN32)
#if defined(ZEL_BUILDING_CREATORS)
#define ZEL_CREATOR_API  // Files.def and Index.def name the exports
#else
#define ZEL_CREATOR_API __declspec(dllimport)
#endif
#else
#define ZEL_CREATOR_API __attribute__((visibility("default")))
#endif

// The calling convention of the entry points: a Windows DLL's own, __stdcall (32-bit Windows
// only; 64-bit Windows and Linux have one convention). The names stay plain in both DLLs' export
// tables through Files.def and Index.def.
#if defined(_WIN32) && !defined(_WIN64)
#define ZEL_CREATOR_CALL __stdcall
#else
#define ZEL_CREATOR_CALL
#endif
