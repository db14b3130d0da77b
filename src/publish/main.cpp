// vyr-publish: the studio's side of patching. Makes release steps from two game builds, places the
// launcher and the installer, keeps the signed patch index and the lists beside it, checks a served
// folder and prunes payloads no list names.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "publish/archive_writer.h"
#include "publish/build_publish.h"
#include "publish/delta_publish.h"
#include "publish/release_plan.h"
#include "publish/served_folder.h"
#include "publish/signing.h"
#include "formats/delete_list_text.h"
#include "formats/pe_version.h"
#include "formats/version_text.h"
#include "settings/launcher_settings.h"
#include "updater/updater_texts.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage:\n"
    "  vyr-publish keygen    --private KEY.pem\n"
    "  vyr-publish pubkey    --private KEY.pem\n"
    "  vyr-publish release   --www DIR --from OLD --to NEW --version N [--new-major] (--private KEY.pem | --unsigned)\n"
    "  vyr-publish launcher  --www DIR --file VYRLauncher.exe --version A.B.C.D (--private KEY.pem | --unsigned)\n"
    "  vyr-publish installer --www DIR --file SETUP.exe --version A.B.C.D (--private KEY.pem | --unsigned)\n"
    "  vyr-publish verify    --www DIR [--public HEX]\n"
    "  vyr-publish prune     --www DIR\n";

typedef std::map<std::string, std::string> Options;

int fail(const std::string& message) {
    fprintf(stderr, "vyr-publish: %s\n", message.c_str());
    return 1;
}

int failAll(const std::vector<std::string>& problems) {
    for (const std::string& problem : problems) fprintf(stderr, "vyr-publish: %s\n", problem.c_str());
    return 1;
}

// "--name value" pairs and bare "--flag"s (stored with an empty value); false when an option is unknown
// to the command, given twice, or lacks a value, or a required one is missing.
bool readOptions(int argc, char** argv, const std::set<std::string>& required, const std::set<std::string>& optional,
                 const std::set<std::string>& flags, Options* options, std::string* error) {
    for (int i = 2; i < argc; i += 2) {
        std::string name = argv[i];
        if (name.compare(0, 2, "--") == 0 && flags.count(name.substr(2))) {
            if (!options->emplace(name.substr(2), "").second) {
                *error = name + " is given twice";
                return false;
            }
            --i;
            continue;
        }
        if (name.compare(0, 2, "--") != 0 || (!required.count(name.substr(2)) && !optional.count(name.substr(2)))) {
            *error = "unknown option " + name;
            return false;
        }
        if (i + 1 >= argc) {
            *error = name + " needs a value";
            return false;
        }
        if (!options->emplace(name.substr(2), argv[i + 1]).second) {
            *error = name + " is given twice";
            return false;
        }
    }
    for (const std::string& name : required) {
        if (!options->count(name)) {
            *error = "--" + name + " is required";
            return false;
        }
    }
    return true;
}

std::string optionOr(const Options& options, const char* name) {
    auto found = options.find(name);
    return found == options.end() ? std::string() : found->second;
}

// Before anything is written: the key must be readable, and a signed index is never replaced by an
// unsigned one by mistake, since every launcher built with the public key would refuse all updates.
bool checkSigningChoice(const std::string& www, const Options& options, std::string* error) {
    std::string key = optionOr(options, "private"), hex;
    bool dropSigning = options.count("unsigned") != 0;
    if (!key.empty() && dropSigning) {
        *error = "--private and --unsigned exclude each other";
        return false;
    }
    if (!key.empty()) return publicKeyHex(key, &hex, error);
    if (dropSigning) return true;
    std::string problem;
    if (servedIndexIsSigned(www, &problem)) {
        *error = problem.empty() ? www + "/" + updater_file::kIndexUrlPath + " is signed: give --private KEY.pem (or --unsigned to drop the "
                                         "signature, which launchers built with the public key then refuse)"
                                 : problem;
        return false;
    }
    return true;
}

int runKeygen(const Options& options) {
    std::string error, hex;
    if (!generateKey(options.at("private"), &error) || !publicKeyHex(options.at("private"), &hex, &error))
        return fail(error);
    printf("%s\n", hex.c_str());
    return 0;
}

int runPubkey(const Options& options) {
    std::string error, hex;
    if (!publicKeyHex(options.at("private"), &hex, &error)) return fail(error);
    printf("%s\n", hex.c_str());
    return 0;
}

// What every launcher shows for a game of another major version than the manifest's.
const char* playersBlockedText() { return settingText(SettingText::MsgReinstall); }

// The major part of the game version the manifest's last step makes every launcher compare with;
// -1 without steps.
int manifestMajor(const ManifestContents& contents) {
    int latest = -1;
    for (const VersionStep& step : contents.steps)
        if (step.version != 0) latest = step.version;
    return latest < 0 ? -1 : gameMajorVersion(latest);
}

// A step of another major version blocks every installed game until its player installs the client
// anew; the studio must ask for that in so many words.
bool checkMajorVersion(int number, const ManifestContents& contents, bool newMajor, std::string* error) {
    int current = manifestMajor(contents);
    if (current < 0 || gameMajorVersion(number) == current) return true;
    if (!newMajor) {
        *error = "--version " + std::to_string(number) + " is of major version " +
                 std::to_string(gameMajorVersion(number)) + ", the manifest's of " + std::to_string(current) +
                 ": every player would be told \"" + playersBlockedText() +
                 "\"; give --new-major if that is meant";
        return false;
    }
    return true;
}

// The step number: a plain decimal above every step of the manifest and within the launcher's range.
bool readStepNumber(const std::string& text, const ManifestContents& contents, int* number, std::string* error) {
    const char* rest = text.c_str();
    int32_t value = 0;
    bool plain = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (!plain || !scanDecimalInteger(&rest, &value) || *rest != '\0' || value <= 0) {
        *error = "--version must be a step number from 1 to 2147483647, not \"" + text + "\"";
        return false;
    }
    for (const VersionStep& step : contents.steps) {
        if (value <= step.version) {
            *error = "--version " + text + " is not above the manifest's step " + std::to_string(step.version);
            return false;
        }
    }
    *number = value;
    return true;
}

// Whether a step already downloads Player/<name>: a new archive of that name would change that step.
bool manifestUsesName(const ManifestContents& contents, const std::string& name) {
    for (const VersionStep& step : contents.steps) {
        for (int f = 0; f < step.fileCount; ++f) {
            std::string used = step.files[f];
            std::replace(used.begin(), used.end(), '\\', '/');
            if (used == name) return true;
        }
    }
    return false;
}

std::vector<std::string> patchNamesWith(const ManifestContents& contents, const std::string& newName) {
    std::vector<std::string> names{newName};
    for (const VersionStep& step : contents.steps)
        for (int f = 0; f < step.fileCount; ++f) names.push_back(step.files[f]);
    return names;
}

// The archive is renamed into place before the manifest names it, so a player never sees the step
// without its file.
bool writeArchiveInPlace(const std::string& www, const std::string& archiveName, const BuildTree& newTree,
                         const ReleasePlan& plan, std::string* error) {
    std::string path = www + "/Player/" + archiveName;
    std::error_code status;
    fs::create_directories(www + "/Player", status);
    std::string temporary = temporaryPathFor(path);
    if (!writeReleaseArchive(temporary, newTree.root, plan.shipped, plan.newFolders, formatDeleteList(plan.deleted),
                             error)) {
        fs::remove(temporary, status);
        return false;
    }
    return replaceFileWith(path, temporary, error);
}

// A run cut between placing the manifest and the index leaves the manifest with this step and an index
// that does not vouch for it; running the same release again takes the step back out and redoes it.
void dropCutStep(const std::string& www, const std::string& versionText, ManifestContents* contents) {
    if (contents->steps.empty() || std::to_string(contents->steps.back().version) != versionText) return;
    std::error_code status;
    if (!fs::exists(www + "/" + updater_file::kIndexUrlPath, status) || servedIndexMatchesManifest(www)) return;
    printf("step %s was cut short by an earlier run: publishing it again\n", versionText.c_str());
    contents->steps.pop_back();
}

bool deltaListServed(const std::string& www) {
    std::error_code status;
    return fs::exists(www + "/" + kDeltaListName, status);
}

// What a player with the previous build downloads: the block's payloads when they are smaller than
// the archive, which the launcher then takes instead.
void printDeltaSummary(const std::string& www, const DeltaList& deltas, int number, const std::string& archiveName) {
    const DeltaStep* block = findDeltaStep(deltas, static_cast<uint32_t>(number));
    if (block == nullptr) return;
    uint64_t payloads = 0, deltaCount = 0;
    for (const DeltaEntry& entry : block->entries) {
        payloads += entry.payloadSize;
        deltaCount += entry.hasBase ? 1 : 0;
    }
    std::error_code status;
    uint64_t archive = fs::file_size(www + "/Player/" + archiveName, status);
    printf("step %d: %zu payloads (%llu deltas), %llu bytes against the archive's %llu\n", number,
           block->entries.size(), static_cast<unsigned long long>(deltaCount),
           static_cast<unsigned long long>(payloads), static_cast<unsigned long long>(archive));
}

// The whole build for verify-and-repair: every file's payload in the store before any list names it.
bool makeWholeBuild(const std::string& www, const BuildTree& newTree, const BuildList& previous, int number,
                    BuildList* build, std::string* error) {
    std::vector<std::string> notes;
    BuildStoreCounts counts;
    if (!makeBuildList(www, newTree, previous, previous.serial + 1, static_cast<uint32_t>(number), build, &notes,
                       &counts, error))
        return false;
    for (const std::string& note : notes) printf("left out of %s: %s\n", kBuildListName, note.c_str());
    printf("release %llu: %zu files; payloads: %zu made (%llu bytes), %zu already stored\n",
           static_cast<unsigned long long>(build->serial), build->files.size(), counts.made,
           static_cast<unsigned long long>(counts.madeBytes), counts.kept);
    return true;
}

int runRelease(const Options& options) {
    const std::string www = options.at("www");
    std::string error;
    ManifestContents contents;
    int number = 0;
    if (!checkSigningChoice(www, options, &error) || !loadManifest(www, &contents, &error)) return fail(error);
    dropCutStep(www, options.at("version"), &contents);
    if (!readStepNumber(options.at("version"), contents, &number, &error) ||
        !checkMajorVersion(number, contents, options.count("new-major") != 0, &error))
        return fail(error);

    std::vector<std::string> problems;
    BuildTree oldTree, newTree;
    ReleasePlan plan;
    std::string archiveName = "Patch" + std::to_string(number) + ".zip";
    if (manifestUsesName(contents, archiveName)) return fail("a step of the manifest already uses Player/" + archiveName);
    bool scanned = scanBuild(options.at("from"), &oldTree, &problems);
    scanned = scanBuild(options.at("to"), &newTree, &problems) && scanned;
    if (!scanned || !planRelease(oldTree, newTree, patchNamesWith(contents, archiveName), &plan, &problems))
        return failAll(problems);

    DeltaList deltas;
    BuildList previousBuild;
    bool listServed = deltaListServed(www);
    if (!loadServedDeltaList(www, &deltas, &error) || !loadServedBuildList(www, &previousBuild, &error))
        return fail(error);
    dropDeltaStep(&deltas, number);

    int previousMajor = manifestMajor(contents);
    VersionStep step;
    memset(&step, 0, sizeof step);
    step.version = number;
    bool carriesFiles = !plan.shipped.empty() || !plan.newFolders.empty() || !plan.deleted.empty();
    // The store first, on two threads: the step's whole payloads below then find their content there.
    BuildList build;
    if (!makeWholeBuild(www, newTree, previousBuild, number, &build, &error)) return fail(error);
    if (carriesFiles) {
        snprintf(step.files[0], sizeof step.files[0], "%s", archiveName.c_str());
        step.fileCount = 1;
        std::string note;
        if (!writeArchiveInPlace(www, archiveName, newTree, plan, &error) ||
            !addStepDeltas(www, number, archiveName, oldTree, &deltas, &note, &error))
            return fail(error);
        if (!note.empty()) printf("step %d has no deltas: %s; its players take the archive\n", number, note.c_str());
    }
    contents.steps.push_back(step);
    if (!publishManifestAndIndex(www, contents, optionOr(options, "private"), &error)) return fail(error);
    // Last: a run cut before this leaves the step without a block, and its players take the archive.
    // The manifest is live now, so the build list goes out even when the delta list could not: else
    // launchers would check the new step against the previous build.
    problems.clear();
    if ((listServed || findDeltaStep(deltas, number) != nullptr) &&
        !publishDeltaList(www, deltas, optionOr(options, "private"), &error))
        problems.push_back(error + "; the step is published without deltas, its players take the archive");
    if (!publishBuildList(www, build, optionOr(options, "private"), &error))
        problems.push_back(error + "; the step is published, but launchers check and repair against the previous "
                                   "build");
    if (!problems.empty()) return failAll(problems);
    printf("step %d: shipped %zu, deleted %zu%s\n", number, plan.shipped.size(), plan.deleted.size(),
           carriesFiles ? (" in Player/" + archiveName).c_str() : "");
    printDeltaSummary(www, deltas, number, archiveName);
    if (previousMajor >= 0 && previousMajor != gameMajorVersion(number))
        printf("major version %d: every player of major version %d now reads \"%s\" and must install the client "
               "anew\n",
               gameMajorVersion(number), previousMajor, playersBlockedText());
    return 0;
}

bool readFileBytes(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string quadText(const VersionQuad& v) {
    char text[64];
    snprintf(text, sizeof text, "%d.%d.%d.%d", v.component[0], v.component[1], v.component[2], v.component[3]);
    return text;
}

// A cut or damaged image cannot start, yet its version resource may read fine: Updater would swap in
// a launcher that never runs, and the installer hand-off would run nothing.
bool readWholeImage(const std::string& file, std::vector<uint8_t>* bytes, std::string* error) {
    if (!readFileBytes(file, bytes)) {
        *error = file + ": cannot be read";
        return false;
    }
    if (!isWholePeImage(bytes->data(), bytes->size())) {
        *error = file + ": not a whole Windows executable (cut short or damaged)";
        return false;
    }
    return true;
}

// A launcher whose version resource differs from the manifest would hand over to Updater on every start.
bool checkLauncherVersion(const std::vector<uint8_t>& bytes, const std::string& file, const std::string& version,
                          std::string* error) {
    VersionQuad own;
    if (!readPeFileVersion(bytes.data(), bytes.size(), &own)) {
        *error = file + ": no Windows executable with a version resource";
        return false;
    }
    if (compareVersions(own, readVersionText(version.c_str())) != 0) {
        *error = file + ": its version resource says " + quadText(own) + ", not " + version;
        return false;
    }
    return true;
}

int runPlaceFile(const Options& options, bool isLauncher) {
    const std::string www = options.at("www");
    const std::string version = options.at("version");
    const std::string file = options.at("file");
    std::string error;
    if (!isPublishableVersionText(version.c_str())) return fail("--version must be A.B.C.D, not \"" + version + "\"");
    std::vector<uint8_t> bytes;
    if (!readWholeImage(file, &bytes, &error)) return fail(error);
    if (isLauncher && !checkLauncherVersion(bytes, file, version, &error)) return fail(error);
    ManifestContents contents;
    if (!checkSigningChoice(www, options, &error) || !loadManifest(www, &contents, &error)) return fail(error);
    DeltaList deltas;
    bool listServed = deltaListServed(www);
    if (isLauncher && (!loadServedDeltaList(www, &deltas, &error) || !addLauncherDelta(www, bytes, &deltas, &error)))
        return fail(error);
    std::string target = www + "/" + (isLauncher ? updater_file::kLauncherUrlPath : updater_file::kInstallerUrlPath);
    // The file the index vouches for stays until the new manifest and index are in place.
    if (!keepPreviousOf(target, &error) || !replaceFileWithCopy(target, file, &error)) {
        dropPreviousOf(target);
        return fail(error);
    }
    char* field = isLauncher ? contents.launcherVersion : contents.installerVersion;
    snprintf(field, kVersionTextSize, "%s", version.c_str());
    if (!publishManifestAndIndex(www, contents, optionOr(options, "private"), &error)) {
        restorePreviousOf(target, &error);
        return fail(error);
    }
    dropPreviousOf(target);
    if (isLauncher && (listServed || !deltas.launcherDeltas.empty()) &&
        !publishDeltaList(www, deltas, optionOr(options, "private"), &error))
        return fail(error + "; the launcher is published, Updater fetches it whole");
    return 0;
}

int runVerify(const Options& options) {
    std::string publicKey = optionOr(options, "public");
    std::vector<std::string> problems = verifyServedFolder(options.at("www"), publicKey);
    if (publicKey.empty()) printf("the index's signature was not checked: give --public HEX to check it\n");
    if (!problems.empty()) return failAll(problems);
    printf("%s: manifest, index and files agree\n", options.at("www").c_str());
    return 0;
}

int runPrune(const Options& options) {
    std::vector<std::pair<std::string, uint64_t>> removed;
    std::string error;
    if (!pruneStore(options.at("www"), &removed, &error)) return fail(error);
    uint64_t freed = 0;
    for (const auto& file : removed) {
        printf("removed %s (%llu bytes)\n", file.first.c_str(), static_cast<unsigned long long>(file.second));
        freed += file.second;
    }
    printf("%zu payloads removed, %llu bytes freed\n", removed.size(), static_cast<unsigned long long>(freed));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs(kUsage, stderr);
        return 2;
    }
    const std::string command = argv[1];
    struct Command {
        const char* name;
        std::set<std::string> required;
        std::set<std::string> optional;
        std::set<std::string> flags;
    };
    const Command commands[] = {
        {"keygen", {"private"}, {}, {}},
        {"pubkey", {"private"}, {}, {}},
        {"release", {"www", "from", "to", "version"}, {"private"}, {"unsigned", "new-major"}},
        {"launcher", {"www", "file", "version"}, {"private"}, {"unsigned"}},
        {"installer", {"www", "file", "version"}, {"private"}, {"unsigned"}},
        {"verify", {"www"}, {"public"}, {}},
        {"prune", {"www"}, {}, {}},
    };
    for (const Command& c : commands) {
        if (command != c.name) continue;
        Options options;
        std::string error;
        if (!readOptions(argc, argv, c.required, c.optional, c.flags, &options, &error)) {
            fputs(kUsage, stderr);
            return fail(error);
        }
        if (command == "keygen") return runKeygen(options);
        if (command == "pubkey") return runPubkey(options);
        if (command == "release") return runRelease(options);
        if (command == "launcher" || command == "installer") return runPlaceFile(options, command == "launcher");
        if (command == "prune") return runPrune(options);
        return runVerify(options);
    }
    fputs(kUsage, stderr);
    return fail("unknown command " + command);
}
