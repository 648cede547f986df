// SPDX-License-Identifier: Apache-2.0
// Symbol visibility of the two shared libraries. Both are built with hidden visibility; only what
// carries one of these macros is exported.
#ifndef GLPS_EXPORT_H_
#define GLPS_EXPORT_H_

#if defined(__GNUC__) || defined(__clang__)
#define GLPS_API __attribute__((visibility("default")))
#define GLPSHOST_API __attribute__((visibility("default")))
#else
#define GLPS_API
#define GLPSHOST_API
#endif

#endif  // GLPS_EXPORT_H_
