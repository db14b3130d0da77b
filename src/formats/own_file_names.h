// The names the launcher and Updater use for themselves in the game folder. Both programs take their
// names from here, and vyr-publish refuses a game build that holds one: a game file of such a name would
// be overwritten, deleted or taken for the launcher's own state on every player's machine.
#pragma once
#include <cstddef>

namespace own_file {

const char kConfig[] = "config";
const char kConfigTemp[] = "config.tmp";
const char kManifestCopy[] = "update.dat";
const char kIndexCopy[] = "update.idx";
const char kDeltaListCopy[] = "update.dlt";
// Names the step whose payloads a run began to download, and their targets: what a sweep may remove
// once that step is in place, even when the list that named them cannot be fetched any more.
const char kDeltaMarker[] = "update.dlm";
// The record of the last verification of the game's files, beside config and written like it.
const char kVerifyRecord[] = "verify.dat";
const char kVerifyRecordTemp[] = "verify.tmp";
const char kUpdaterExe[] = "Updater.exe";
// Appended to a target's name while it is being written.
const char kDownloadSuffix[] = ".download";
const char kValidatorSuffix[] = ".download.validator";
const char kPartSuffix[] = ".vyr-part";
// A downloaded delta list payload, kept beside the file it rebuilds until that file is in place.
const char kDeltaSuffix[] = ".vyr-delta";

}  // namespace own_file

// The own name `name` ("/"-separated, relative to the game folder) collides with, compared as Windows
// compares names; nullptr for a name free for game files.
const char* ownFileNameOf(const char* name);
