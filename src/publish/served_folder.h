// The folder served at the patch base URL: "LauncherPatchInfo.txt", "PatchIndex.txt", "Player/",
// "Launcher/", "Installer/". Every file is replaced in one step (temporary file, then rename).
#pragma once
#include <string>
#include <vector>

#include "formats/manifest_text.h"
#include "formats/patch_index.h"

// The manifest as the launcher reads it; an absent one reads as empty sections.
bool loadManifest(const std::string& www, ManifestContents* contents, std::string* error);

// Copies `source` beside `path` and renames the copy over `path`, creating the folder first.
bool replaceFileWithCopy(const std::string& path, const std::string& source, std::string* error);
// Puts the file `path` held before a replacement back, after what followed the replacement failed;
// keepPreviousOf must have run before it. Without a previous file the new one is removed. When that
// fails, false, with the reason added to `error`, so no message claims a state the folder is not in.
bool keepPreviousOf(const std::string& path, std::string* error);
bool restorePreviousOf(const std::string& path, std::string* error);
void dropPreviousOf(const std::string& path);
// Renames a finished temporary file over `path`.
bool replaceFileWith(const std::string& path, const std::string& temporary, std::string* error);
// A temporary name beside `path`, removed by nobody but the rename.
std::string temporaryPathFor(const std::string& path);
// Whether a file name is one of those temporaries (a running publish may still be writing it).
bool isPublishingLeftover(const std::string& name);
// Writes `data` into a flushed temporary file beside `path` (creating its folder), which stays where it is.
bool writeTemporary(const std::string& path, const std::string& data, std::string* temporary, std::string* error);

// Rewrites the manifest and then the index of every file the manifest uses, signed with privateKey
// unless it is empty. The manifest is read back through the launcher's reader before it replaces the
// old one: a text the launcher would read differently is never published.
bool publishManifestAndIndex(const std::string& www, const ManifestContents& contents, const std::string& privateKey,
                             std::string* error);

// Whether the index holds a signature; false also when there is no index yet.
bool servedIndexIsSigned(const std::string& www, std::string* error);
// Whether the index's manifest hash is that of the manifest beside it.
bool servedIndexMatchesManifest(const std::string& www);

// Every problem of the served folder: names the manifest lists that are missing, index lines that do
// not match their files, a manifest hash or signature (with a public key) that does not hold, an
// archive whose entries do not read back whole, files an interrupted run left behind. publicKeyHex may
// be empty.
std::vector<std::string> verifyServedFolder(const std::string& www, const std::string& publicKeyHex);

// Lower-case hex of the bytes, as the signed lists write hashes.
std::string hexText(const uint8_t* bytes, size_t count);

// Adds to *problems what is wrong with a signed list's signature against the public key (a list that
// is not signed, a key that does not read, a signature that does not match); `listName` heads the line.
void checkListSignature(const char* listName, const std::string& text, size_t signedLength, bool isSigned,
                        const uint8_t signature[kP256SignatureSize], const std::string& publicKeyHex,
                        std::vector<std::string>* problems);
