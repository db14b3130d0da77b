// The delete list "delete.txt": names of game files that a patch retires, removed after an unpacking.
#pragma once

// Deletes every file named in "delete.txt" of gState.moduleDirectory, then the list itself.
// No list: nothing happens. Names that could leave the folder are skipped.
void applyDeleteList();
