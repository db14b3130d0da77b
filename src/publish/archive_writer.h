// The release archive Player/Patch<N>.zip: every shipped file, deflated where that pays and stored
// where it does not, zip64 where an entry needs it, and the delete list as "delete.txt" at the top.
#pragma once
#include <string>
#include <vector>

// Writes the archive to zipPath (the caller renames it into place). Files are read below sourceRoot;
// folders are directory entries ending in "/"; an empty deleteList writes no "delete.txt".
bool writeReleaseArchive(const std::string& zipPath, const std::string& sourceRoot,
                         const std::vector<std::string>& files, const std::vector<std::string>& folders,
                         const std::string& deleteList, std::string* error);
