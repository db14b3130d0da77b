// Fetches the version manifest into "update.dat" and reads it into the launcher state.
#pragma once

// 1 when the manifest was downloaded and read, 0 when it was not: the server answered with an error,
// the body's end was not known, the text has no "[PLAYER]" section, or (in a build with a key) the
// signed index does not vouch for it.
int fetchManifest();

// Reads the stored "update.dat" into the state again, from the installed version as it is now: the
// update worker's next pass when the step table was full. 1 when it was read, 0 when it is missing or
// holds no "[PLAYER]" section.
int readStoredManifest();
