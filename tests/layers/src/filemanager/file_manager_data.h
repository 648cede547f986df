// SPDX-License-Identifier: Apache-2.0
// The interface that the lower layer may include.
