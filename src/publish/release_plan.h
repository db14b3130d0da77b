// What one release carries from an old game build to a new one: the files of the new build that are
// added or changed (by content), the new empty folders, and the old files the delete list retires.
// Names the launcher could not receive exactly as they are are problems, never left out quietly.
#pragma once
#include <string>
#include <vector>

struct BuildTree {
    std::string root;
    std::vector<std::string> files;         // "/"-separated, below root
    std::vector<std::string> emptyFolders;  // likewise, folders without anything below them
    bool hasDeleteList;                     // a "delete.txt" at the top (any case)
};

struct ReleasePlan {
    std::vector<std::string> shipped;     // sorted
    std::vector<std::string> newFolders;  // directory entries, "name/"
    std::vector<std::string> deleted;     // sorted
};

// Lists a build folder. false (with the problems added) when it cannot be read or holds anything
// other than files and folders: a symbolic link, which could reach outside the build, or a file named
// like one the launcher or Updater keeps in the game folder.
bool scanBuild(const std::string& root, BuildTree* tree, std::vector<std::string>* problems);

// Compares the two builds by content. `patchNames` are the names every step of the manifest downloads
// into the game folder, the new archive's included; a game file named like one of the archives would be
// overwritten by its download and deleted after the unpacking. false when any problem was added.
bool planRelease(const BuildTree& oldTree, const BuildTree& newTree, const std::vector<std::string>& patchNames,
                 ReleasePlan* plan, std::vector<std::string>* problems);
