// Export and C-linkage macros for the project's shared libraries.
//
// Every library is compiled with hidden visibility; only functions marked OPX_API are visible,
// and each library's version script narrows the exported set to its documented names.
#pragma once

#ifdef __cplusplus
#define OPX_EXTERN_C extern "C"
#define OPX_BEGIN_C extern "C" {
#define OPX_END_C }
#else
#define OPX_EXTERN_C
#define OPX_BEGIN_C
#define OPX_END_C
#endif

#if defined(_WIN32)
// A DLL's exports come from the module-definition file made from its exports list (see
// cmake/Libraries.cmake), the counterpart of the version script: marking functions
// __declspec(dllexport) would also export those of the static libraries a core links.
#define OPX_API
#else
#define OPX_API __attribute__((visibility("default")))
#endif
