// One patch file from the server into the launcher's folder: the download step of the update worker,
// open to callers (and tests) that fetch a single file.
#pragma once

// Fetches `fileName` from the patch base URL (followed by `subfolder`, such as "/Player/", when
// given) and unpacks it when it is an archive; 1 when in place, 0 on failure with the status set.
int downloadPatchFile(const char* fileName, const char* subfolder);
