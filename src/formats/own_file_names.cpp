// Matching a game file name against the launcher's and Updater's own names, without regard to case.
#include "formats/own_file_names.h"

#include <cstring>

#include "updater/updater_texts.h"

namespace {

// Files the programs keep at the top of the game folder.
const char* const kTopLevelNames[] = {
    own_file::kConfig,           own_file::kConfigTemp,          own_file::kManifestCopy,
    own_file::kIndexCopy,        own_file::kDeltaListCopy,       own_file::kVerifyRecord,
    own_file::kVerifyRecordTemp, updater_file::kLauncher,        own_file::kUpdaterExe,
    updater_file::kLauncherDownload, updater_file::kLauncherBackup, updater_file::kInstallerDownload,
    updater_file::kIndexDownload, updater_file::kDeltaListDownload, updater_file::kLauncherDelta, own_file::kDeltaMarker};
// Suffixes of files written beside their target anywhere in the folder.
const char* const kWorkSuffixes[] = {own_file::kDownloadSuffix, own_file::kValidatorSuffix, own_file::kPartSuffix,
                                     own_file::kDeltaSuffix};

char foldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameFolded(const char* a, const char* b) {
    for (; *a != '\0' && foldCase(*a) == foldCase(*b); ++a, ++b) {
    }
    return *a == '\0' && *b == '\0';
}

bool endsWithFolded(const char* text, const char* suffix) {
    size_t length = strlen(text), suffixLength = strlen(suffix);
    return length >= suffixLength && sameFolded(text + length - suffixLength, suffix);
}

}  // namespace

const char* ownFileNameOf(const char* name) {
    for (const char* suffix : kWorkSuffixes)
        if (endsWithFolded(name, suffix)) return suffix;
    if (strchr(name, '/') != nullptr || strchr(name, '\\') != nullptr) return nullptr;
    for (const char* own : kTopLevelNames)
        if (sameFolded(name, own)) return own;
    return nullptr;
}
