// Fetches the version manifest into "update.dat" and reads it into the launcher state.
#pragma once

// 1 when the manifest was downloaded and read (whatever it held), 0 when it was not.
int fetchManifest();
