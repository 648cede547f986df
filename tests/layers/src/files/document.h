// SPDX-License-Identifier: Apache-2.0
// A header of the lower layer.
