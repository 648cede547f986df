// SPDX-License-Identifier: Apache-2.0
// A folder that the layer table does not name.
