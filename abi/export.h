// What the boundaries of the three shared libraries of this tree are made
// of: the export macros and the calling convention of member functions.
//
// Each library defines its *_BUILD macro while it is compiled, so its own
// declarations export and everyone else's import. On Linux the libraries are
// built with hidden visibility, so only what carries one of these macros is
// visible from the shared object.
#pragma once

#ifdef _WIN32
#define KX_EXPORT __declspec(dllexport)
#define KX_IMPORT __declspec(dllimport)
#else
#define KX_EXPORT __attribute__((visibility("default")))
#define KX_IMPORT __attribute__((visibility("default")))
#endif

// The plug-in library KestrionUnique.
#ifdef KX_PLUGIN_BUILD
#define KX_PLUGIN_API KX_EXPORT
#else
#define KX_PLUGIN_API KX_IMPORT
#endif

// The host engine library Tessarel.
#ifdef KX_HOST_ENGINE_BUILD
#define KX_HOST_ENGINE_API KX_EXPORT
#else
#define KX_HOST_ENGINE_API KX_IMPORT
#endif

// The suit vendor's library Kestrion.
#ifdef KX_SUIT_LIBRARY_BUILD
#define KX_SUIT_LIBRARY_API KX_EXPORT
#else
#define KX_SUIT_LIBRARY_API KX_IMPORT
#endif

// The calling convention of C++ member functions, for a host that calls a
// constructor it resolved by name.
#if defined(_WIN32) && defined(__i386__)
#define KX_THISCALL __attribute__((thiscall))
#else
#define KX_THISCALL
#endif
