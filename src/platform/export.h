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
#define OPX_API __declspec(dllexport)
#else
#define OPX_API __attribute__((visibility("default")))
#endif
