// SPDX-License-Identifier: Apache-2.0
// A header of the upper layer that the lower one may not include.
