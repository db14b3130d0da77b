// One patch file from the server into the launcher's folder: the download step of the update worker,
// open to callers (and tests) that fetch a single file.
#pragma once

#include "formats/patch_index.h"

// Fetches `fileName` from the patch base URL (followed by `subfolder`, such as "/Player/", when
// given) and unpacks it when it is an archive; 1 when in place, 0 on failure with the status set.
int downloadPatchFile(const char* fileName, const char* subfolder);

// Patch files come from the base URL and then the manifest's mirrors (gState.mirrorUrls); a server
// that failed is passed over until this is called, as every update run and every check begins by doing.
void trustEveryPatchSource();

// Refused: a failure no retry changes (the server's own answer such as a 404, bytes that do not match
// `expected`, a file that cannot be written); another source of the file may still do. Failed: the tries
// ran out, or the finished file could not be put in place.
enum class VerifiedFetch { Done, Refused, Failed };

// Fetches <patch base URL>/<serverPath> into `localFile` (UTF-8, below the launcher's folder), held to
// `expected` as it streams and resumed and retried as every patch file; `shownName` names it on the
// status line, which also tells a failure.
VerifiedFetch downloadVerifiedFile(const char* serverPath, const char* localFile, const char* shownName,
                                   const PatchIndexFile& expected);
