// The check of the game folder: disk facts of every listed file from one enumeration per folder, a
// plan from the pure planner, hashing on two threads, whole payloads for whatever is wrong, and the
// verification record written like config. Files the list does not name are never opened.
#include "repair/game_check.h"

#include <windows.h>
#include <process.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/launcher_state.h"
#include "deltas/delta_apply.h"
#include "formats/build_list.h"
#include "formats/own_file_names.h"
#include "formats/verify_record.h"
#include "logging/support_log.h"
#include "settings/launcher_settings.h"
#include "update/delta_step.h"
#include "update/patch_progress.h"
#include "update/update_worker.h"
#include "verification/patch_crypto.h"
#include "verification/patch_verify.h"

namespace {

enum { kLocalNameSize = kIndexPathSize + 16, kWidePathSize = 1024, kHashThreads = 2, kMaxRecordSize = 64 << 20 };

// The list is fetched through the index's local name: that file is gone once the index is loaded, so
// no further name is taken from the game's.
const char* const kListCopy = own_file::kIndexCopy;

BuildList runList;
VerifyRecord runRecord;
// What this run's steps put in place, with the disk's facts right after each rename.
std::vector<VerifiedFile> placedThisRun;

char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows matches names without regard to case: the facts are keyed so a listed "Data/x" finds "data/X".
std::string foldedKey(const std::string& path) {
    std::string key(path);
    for (char& c : key) c = foldAscii(c);
    return key;
}

// The same into a buffer the caller keeps: one allocation per gather rather than one per file.
const std::string& foldInto(std::string* key, const char* path) {
    key->assign(path);
    for (char& c : *key) c = foldAscii(c);
    return *key;
}

void toLocalName(const char* listedPath, char (&local)[kLocalNameSize]) {
    snprintf(local, sizeof local, "%s", listedPath);
    for (char* c = local; *c != '\0'; ++c)
        if (*c == '/') *c = '\\';
}

uint64_t fileTimeValue(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Every plain file of one folder ("" for the game folder) into `facts`, keyed by folded listed path.
void gatherFolder(const std::string& folder, std::unordered_map<std::string, DiskFile>* facts) {
    std::string pattern = folder.empty() ? std::string("*") : folder + "/*";
    for (char& c : pattern)
        if (c == '/') c = '\\';
    WCHAR wide[kWidePathSize];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pattern.c_str(), -1, wide, kWidePathSize) == 0) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(wide, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return;
    std::string key = folder.empty() ? std::string() : foldedKey(folder) + "/";
    size_t prefix = key.size();
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        char name[kIndexPathSize];
        if (WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name, sizeof name, nullptr, nullptr) == 0) continue;
        DiskFile disk = {true, (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
                         fileTimeValue(found.ftLastWriteTime)};
        key.resize(prefix);
        for (const char* c = name; *c != '\0'; ++c) key += foldAscii(*c);
        (*facts)[key] = disk;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

// One enumeration per listed folder rather than one query per file: the start-up check stays fast
// for tens of thousands of files.
std::vector<DiskFile> gatherDiskFacts(const BuildList& list) {
    std::unordered_map<std::string, DiskFile> facts;
    facts.reserve(list.files.size());
    std::unordered_map<std::string, bool> gathered;
    std::string previous;
    for (const BuildFile& file : list.files) {
        const char* slash = strrchr(file.path, '/');
        size_t length = slash ? static_cast<size_t>(slash - file.path) : 0;
        // Files of one folder mostly follow each other in the list's order.
        bool sameFolder = !gathered.empty() && previous.size() == length && previous.compare(0, length, file.path, length) == 0;
        if (sameFolder) continue;
        previous.assign(file.path, length);
        if (gathered.emplace(foldedKey(previous), true).second) gatherFolder(previous, &facts);
    }
    std::vector<DiskFile> disk;
    disk.reserve(list.files.size());
    std::string key;
    for (const BuildFile& file : list.files) {
        auto at = facts.find(foldInto(&key, file.path));
        disk.push_back(at != facts.end() ? at->second : DiskFile{false, 0, 0});
    }
    return disk;
}

namespace {

DiskFile diskFileNow(const char* listedPath) {
    char local[kLocalNameSize];
    toLocalName(listedPath, local);
    WCHAR wide[kWidePathSize];
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, local, -1, wide, kWidePathSize) == 0 ||
        !GetFileAttributesExW(wide, GetFileExInfoStandard, &data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return DiskFile{false, 0, 0};
    return DiskFile{true, (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                    fileTimeValue(data.ftLastWriteTime)};
}

}  // namespace

void noteFilePutInPlace(const char* listedPath, const uint8_t sha256[kSha256Size]) {
    DiskFile disk = diskFileNow(listedPath);
    if (!disk.exists) return;
    VerifiedFile placed{};
    snprintf(placed.path, sizeof placed.path, "%s", listedPath);
    placed.size = disk.size;
    placed.lastWriteTime = disk.lastWriteTime;
    memcpy(placed.sha256, sha256, kSha256Size);
    placedThisRun.push_back(placed);
}

namespace {

bool loadRecord(VerifyRecord* record) {
    *record = VerifyRecord{};
    HANDLE file = CreateFileA(own_file::kVerifyRecord, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    std::vector<char> text;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < kMaxRecordSize;
    if (ok) text.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ok = ok && (text.empty() || (ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr) &&
                                 read == text.size()));
    CloseHandle(file);
    return ok && parseVerifyRecord(text.data(), text.size(), record);
}

// Like config: a temporary file, flushed, then renamed over the record, so a kill keeps the old one.
bool writeRecord(const VerifyRecord& record) {
    std::string text = formatVerifyRecord(record);
    HANDLE file = CreateFileA(own_file::kVerifyRecordTemp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool complete = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(file);
    complete = CloseHandle(file) && complete;
    if (complete && MoveFileExA(own_file::kVerifyRecordTemp, own_file::kVerifyRecord,
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(own_file::kVerifyRecordTemp);
    return false;
}

enum class ListLoad { Usable, Unfetchable, Refused, OtherVersion };

ListLoad loadBuildList(const VerifyRecord& record) {
    uint8_t key[kP256PublicKeySize];
    std::vector<char> text;
    if (!builtInPatchPublicKey(key) ||
        !fetchSignedListText(settingText(SettingText::PatchBaseUrl), kBuildListName, kListCopy, &text))
        return ListLoad::Unfetchable;
    if (!parseBuildList(text.data(), text.size(), &runList) ||
        !verifyP256Signature(key, text.data(), runList.signedLength, runList.signature))
        return ListLoad::Refused;
    switch (judgeBuildList(runList, record.acceptedSerial, static_cast<uint32_t>(gState.localGameVersion))) {
        case ListVerdict::Accepted: return ListLoad::Usable;
        case ListVerdict::OlderSerial: return ListLoad::Refused;
        default: return ListLoad::OtherVersion;
    }
}

// The hashing shared by the two threads: each takes the next file to hash until none is left.
struct HashJob {
    const BuildList* list;
    const CheckPlan* plan;
    std::vector<char> rightBytes;  // per listed file: its bytes hashed to the listed SHA-256
    volatile LONG next;
    volatile LONG finished;
    int total;
};

HashJob hashJob;

unsigned __stdcall hashListedFiles(void*) {
    for (;;) {
        LONG index = InterlockedIncrement(&hashJob.next) - 1;
        if (index >= static_cast<LONG>(hashJob.list->files.size())) return 0;
        if (hashJob.plan->checks[static_cast<size_t>(index)] != FileCheck::Hash) continue;
        const BuildFile& listed = hashJob.list->files[static_cast<size_t>(index)];
        char local[kLocalNameSize];
        toLocalName(listed.path, local);
        uint8_t digest[kSha256Size];
        uint64_t size = 0;
        hashJob.rightBytes[static_cast<size_t>(index)] = hashInstalledFile(local, digest, &size) &&
                                                         size == listed.size &&
                                                         memcmp(digest, listed.sha256, kSha256Size) == 0;
        LONG done = InterlockedIncrement(&hashJob.finished);
        formatStatusText("Verifying game files (%d/%d)", static_cast<int>(done), hashJob.total);
        gState.totalProgress = totalPercent(static_cast<int>(done), hashJob.total);
    }
}

unsigned __stdcall hashingHelper(void*) {
    hashListedFiles(nullptr);
    releaseThreadSha256Provider();
    return 0;
}

}  // namespace

std::vector<char> hashPlannedFiles(const BuildList& list, const CheckPlan& plan) {
    hashJob.list = &list;
    hashJob.plan = &plan;
    hashJob.rightBytes.assign(list.files.size(), 0);
    hashJob.next = 0;
    hashJob.finished = 0;
    hashJob.total = static_cast<int>(plan.hashCount);
    if (plan.hashCount > 0) {
        formatStatusText("Verifying game files (%d/%d)", 0, hashJob.total);
        HANDLE helper = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, hashingHelper, nullptr, 0, nullptr));
        hashListedFiles(nullptr);
        if (helper != nullptr) {
            WaitForSingleObject(helper, INFINITE);
            CloseHandle(helper);
        }
    }
    return hashJob.rightBytes;
}

namespace {

DeltaEntry wholeEntryOf(const BuildFile& listed) {
    DeltaEntry entry = {};
    entry.hasBase = false;
    memcpy(entry.targetSha256, listed.sha256, kSha256Size);
    entry.targetSize = listed.size;
    memcpy(entry.payloadSha256, listed.payloadSha256, kSha256Size);
    entry.payloadSize = listed.payloadSize;
    snprintf(entry.payloadPath, sizeof entry.payloadPath, "%s", listed.payloadPath);
    snprintf(entry.targetPath, sizeof entry.targetPath, "%s", listed.path);
    return entry;
}

void logRepair(const char* name, const char* message) {
    LogEvent event = logEvent(kLogRepair);
    event.name = name;
    event.message = message;
    writeLogEvent(event);
}

void logCheckPlan(const CheckPlan& plan, CheckDepth depth) {
    char message[160];
    snprintf(message, sizeof message, "%s check of %u listed files (serial %llu): %u to hash, %u missing or of another size",
             depth == CheckDepth::Full ? "full" : "quick", static_cast<unsigned>(runList.files.size()),
             static_cast<unsigned long long>(runList.serial), static_cast<unsigned>(plan.hashCount),
             static_cast<unsigned>(plan.fetchCount));
    logRepair(kBuildListName, message);
}

// Puts every wrong file in place, up to the first that fails, and records every right one; false when
// one failed.
bool repairAndRecord(const CheckPlan& plan, const std::vector<DiskFile>& disk, const std::vector<char>& rightBytes) {
    VerifyRecord updated;
    updated.acceptedSerial = runList.serial > runRecord.acceptedSerial ? runList.serial : runRecord.acceptedSerial;
    size_t wrong = plan.fetchCount, repaired = 0;
    for (size_t i = 0; i < runList.files.size(); ++i)
        if (plan.checks[i] == FileCheck::Hash && !rightBytes[i]) ++wrong;
    bool allRight = true;
    for (size_t i = 0; i < runList.files.size(); ++i) {
        const BuildFile& listed = runList.files[i];
        bool right = plan.checks[i] == FileCheck::Fine || (plan.checks[i] == FileCheck::Hash && rightBytes[i]);
        if (right) {
            updated.files.push_back(verifiedFileOf(listed, disk[i]));
            continue;
        }
        if (!allRight) continue;  // the failure stays on the status line
        formatStatusText("Repairing file (%s)", listed.path);
        gState.totalProgress = totalPercent(static_cast<int>(repaired), static_cast<int>(wrong));
        DeltaEntry entry = wholeEntryOf(listed);
        if (bringWholeFileInPlace(entry) != DeltaStepOutcome::Applied) {
            logRepair(listed.path, "not repaired");
            allRight = false;
            continue;
        }
        ++repaired;
        logRepair(listed.path, "repaired: fetched whole");
        updated.files.push_back(verifiedFileOf(listed, diskFileNow(listed.path)));
    }
    // What was found right or repaired is kept even after a failure, so the next start hashes none of it again.
    writeRecord(updated);
    return allRight;
}

}  // namespace

GameCheck checkGameFiles(CheckDepth depth) {
    if (!patchIndexRequired()) return GameCheck::Done;
    loadRecord(&runRecord);
    switch (loadBuildList(runRecord)) {
        case ListLoad::Unfetchable:
        case ListLoad::OtherVersion: return GameCheck::Done;
        case ListLoad::Refused:
            logRepair(kBuildListName, "whole-build list refused: unsigned, damaged or older than one accepted before");
            setStatusText(settingText(SettingText::MsgServerUnreachable));
            markFailureShown();
            return GameCheck::ServerRefused;
        default: break;
    }
    vouchForPlacedFiles(runList, placedThisRun, &runRecord);
    placedThisRun.clear();
    std::vector<DiskFile> disk = gatherDiskFacts(runList);
    CheckPlan plan;
    if (!planBuildCheck(runList, runRecord, disk, depth, &plan)) return GameCheck::Done;
    logCheckPlan(plan, depth);
    gState.fileProgress = 0;
    gState.totalProgress = 0;
    std::vector<char> rightBytes = hashPlannedFiles(runList, plan);
    return repairAndRecord(plan, disk, rightBytes) ? GameCheck::Done : GameCheck::Failed;
}

// Only from the ready state: after a failed update or the server message the version is not known to be
// current, and the check ends in the ready state when it finds no list.
bool startGameCheck() {
    if (gState.workerRunning || gState.buttonState[0] == 3) return false;
    gState.workerRunning = 1;
    gState.buttonState[0] = 3;  // no start while files are replaced under the game
    HANDLE worker = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, gameCheckWorker, nullptr, 0, nullptr));
    if (worker == nullptr) {
        gState.workerRunning = 0;
        showReadyState();
        return false;
    }
    CloseHandle(worker);
    return true;
}
