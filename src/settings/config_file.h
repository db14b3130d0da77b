// The enciphered "config" file that keeps the installed game version between runs.
#pragma once

// 1 when a usable version was read into gState.localGameVersion, 0 otherwise (messages shown).
int readConfig();
// Writes gState.localGameVersion; 1 on success, 0 after showing "Can't open Config".
int writeConfig();
