// SPDX-License-Identifier: Apache-2.0
// Symbol visibility of the shared libraries: GLPS_API for libglps.so, GLPS_PDF_API for
// libglps-pdf.so, GLPSHOST_API for libglpshost.so. All are built with hidden visibility; only what
// carries one of these macros is exported.
#ifndef GLPS_EXPORT_H_
#define GLPS_EXPORT_H_

#if defined(__GNUC__) || defined(__clang__)
#define GLPS_API __attribute__((visibility("default")))
#define GLPS_PDF_API __attribute__((visibility("default")))
#define GLPSHOST_API __attribute__((visibility("default")))
#else
#define GLPS_API
#define GLPS_PDF_API
#define GLPSHOST_API
#endif

#endif  // GLPS_EXPORT_H_
