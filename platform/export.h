// Export macros for the three shared libraries of this tree.
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
#ifdef KESTRIONUNIQUE_BUILD
#define KESTRION_API KX_EXPORT
#else
#define KESTRION_API KX_IMPORT
#endif

// The host engine library Tessarel.
#ifdef TESSAREL_BUILD
#define TESSAREL_API KX_EXPORT
#else
#define TESSAREL_API KX_IMPORT
#endif

// The suit vendor's library Kestrion.
#ifdef GYRO_BUILD
#define GYRO_API KX_EXPORT
#else
#define GYRO_API KX_IMPORT
#endif
