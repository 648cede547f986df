// SPDX-License-Identifier: Apache-2.0
// Includes the allowed header of the layer above, one that is not allowed, a public header and
// one of its own folder.
#include "files/document.h"
#include "filemanager/file_manager_data.h"
#include "filemanager/record_set.h"
#include "glps/records.h"
