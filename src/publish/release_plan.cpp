// Tree listing, content comparison and the name rules of a release. Windows compares names without
// regard to case, so every collision check here is case-insensitive; the archive and the delete list
// keep the names as the build has them.
#include "publish/release_plan.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "formats/delete_list_text.h"
#include "formats/own_file_names.h"
#include "formats/path_check.h"
#include "update/patch_progress.h"
#include "archives/zip_extract.h"

namespace fs = std::filesystem;

namespace {

const char kDeleteListName[] = "delete.txt";
const size_t kCompareChunk = 1 << 16;
const char kUnicodeLocaleName[] = "C.UTF-8";
const char32_t kLastBasicPlaneCharacter = 0xffff;

// Simple case mappings of every Unicode letter: the build machine's locale may know ASCII only.
locale_t unicodeLocale() {
    static locale_t locale = newlocale(LC_CTYPE_MASK, kUnicodeLocaleName, static_cast<locale_t>(nullptr));
    return locale;
}

// Reads the character at `*at` of text already known to be UTF-8 and moves past it.
char32_t nextCharacter(const std::string& text, size_t* at) {
    unsigned char lead = static_cast<unsigned char>(text[(*at)++]);
    int trail = lead < 0x80 ? 0 : lead < 0xe0 ? 1 : lead < 0xf0 ? 2 : 3;
    char32_t code = trail == 0 ? lead : lead & (0x3f >> trail);
    for (int i = 0; i < trail; ++i) code = (code << 6) | (static_cast<unsigned char>(text[(*at)++]) & 0x3f);
    return code;
}

void appendUtf8(char32_t code, std::string* out) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
        return;
    }
    int trail = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static const unsigned char leadMarks[] = {0, 0xc0, 0xe0, 0xf0};
    *out += static_cast<char>(leadMarks[trail] | (code >> (6 * trail)));
    for (int i = trail - 1; i >= 0; --i) *out += static_cast<char>(0x80 | ((code >> (6 * i)) & 0x3f));
}

// A name as Windows compares it, for equality tests only. NTFS upper-cases both names with its own
// table; lower-casing the upper case as well also joins the few letters whose mappings are not each
// other's inverse (the Kelvin sign and k, dotless i and I), so a clash Windows may see is never missed.
// A name that is not UTF-8 is refused elsewhere; its bytes beyond ASCII are kept as they are.
std::string foldCase(const std::string& name) {
    std::string folded;
    locale_t locale = unicodeLocale();
    if (!isValidUtf8(name.c_str()) || locale == static_cast<locale_t>(nullptr)) {
        for (char c : name) folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        return folded;
    }
    for (size_t at = 0; at < name.size();) {
        char32_t code = nextCharacter(name, &at);
        // NTFS keeps UTF-16 surrogate pairs, so characters beyond the first plane stay as they are.
        if (code <= kLastBasicPlaneCharacter)
            code = static_cast<char32_t>(towlower_l(towupper_l(static_cast<wint_t>(code), locale), locale));
        appendUtf8(code, &folded);
    }
    return folded;
}

// True when the folded names of `name` are the same on every build machine: without the Unicode
// locale only ASCII folds, which would let a clash beyond it through unseen.
bool canFoldCase(const std::string& name) {
    if (unicodeLocale() != static_cast<locale_t>(nullptr)) return true;
    for (unsigned char c : name)
        if (c >= 0x80) return false;
    return true;
}

bool isTopLevel(const std::string& name) { return name.find('/') == std::string::npos; }

// The archives the manifest's steps download into the game folder, as Windows would compare them.
std::set<std::string> archivePaths(const std::vector<std::string>& patchNames) {
    std::set<std::string> paths;
    for (std::string name : patchNames) {
        if (!isArchiveName(name.c_str())) continue;
        std::replace(name.begin(), name.end(), '\\', '/');
        paths.insert(foldCase(name));
    }
    return paths;
}

int folderDepth(const std::string& name) { return static_cast<int>(std::count(name.begin(), name.end(), '/')); }

bool sameContent(const std::string& a, const std::string& b) {
    std::error_code errorA, errorB;
    if (fs::file_size(a, errorA) != fs::file_size(b, errorB) || errorA || errorB) return false;
    std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
    std::vector<char> x(kCompareChunk), y(kCompareChunk);
    while (first && second) {
        first.read(x.data(), static_cast<std::streamsize>(x.size()));
        second.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (first.gcount() != second.gcount() || !std::equal(x.begin(), x.begin() + first.gcount(), y.begin()))
            return false;
    }
    return first.eof() && second.eof();
}

void addFoldersAbove(const std::string& name, std::set<std::string>* folders) {
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
        folders->insert(foldCase(name.substr(0, slash)));
}

// Every folder of the tree, lower-cased: those above a file and the empty ones with theirs, since an
// empty folder blocks a file of its name on Windows just as a full one does.
std::set<std::string> foldersOf(const BuildTree& tree) {
    std::set<std::string> folders;
    for (const std::string& name : tree.files) addFoldersAbove(name, &folders);
    for (const std::string& folder : tree.emptyFolders) {
        folders.insert(foldCase(folder));
        addFoldersAbove(folder, &folders);
    }
    return folders;
}

// A name inside the archive or the delete list may go beyond ASCII: the archive flags it UTF-8, and
// the launcher writes and deletes it with its characters, whatever the player's code page. It must be
// UTF-8, as the build has it. A "\" inside a name here is a folder separator there.
bool isUtf8FileName(const std::string& name) {
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f || c == '\\') return false;
    return isValidUtf8(name.c_str());
}

// A name the archive carries: one the launcher accepts and writes to the very same place.
void checkShippedName(const std::string& name, const std::set<std::string>& archives,
                      std::vector<std::string>* problems) {
    if (!isUtf8FileName(name)) {
        problems->push_back(name + ": names must be UTF-8 without control characters or \"\\\", which is a "
                                   "folder separator on Windows");
    } else if (!isSafeRelativePath(name.c_str())) {
        problems->push_back(name + ": the launcher refuses this path (reserved name, forbidden character, "
                                   "trailing dot or blank, or longer than 255 characters)");
    } else if (folderDepth(name) > kMaxDirectoryDepth) {
        problems->push_back(name + ": the launcher creates at most 16 folder levels");
    } else if (archives.count(foldCase(name))) {
        problems->push_back(name + ": the manifest downloads an archive of this name into the game folder and "
                                   "deletes it after unpacking");
    }
}

void checkCaseCollisions(const BuildTree& tree, std::vector<std::string>* problems) {
    std::map<std::string, std::string> seen;
    std::set<std::string> folders = foldersOf(tree);
    for (const std::string& name : tree.files) {
        auto inserted = seen.emplace(foldCase(name), name);
        if (!inserted.second)
            problems->push_back(name + ": differs from " + inserted.first->second + " only in case, one file on Windows");
        if (folders.count(foldCase(name))) problems->push_back(name + ": a file and a folder of the same name");
    }
}

// A path that is a file in one build and a folder in the other: the launcher unpacks before it
// deletes, so it would have to write a file where a folder is, or the other way round.
void checkFileFolderSwaps(const BuildTree& oldTree, const BuildTree& newTree, std::vector<std::string>* problems) {
    std::set<std::string> oldFolders = foldersOf(oldTree);
    std::set<std::string> newFolders = foldersOf(newTree);
    for (const std::string& name : newTree.files)
        if (oldFolders.count(foldCase(name))) problems->push_back(name + ": a folder in the old build, a file in the new");
    for (const std::string& name : oldTree.files)
        if (newFolders.count(foldCase(name))) problems->push_back(name + ": a file in the old build, a folder in the new");
}

}  // namespace

bool scanBuild(const std::string& root, BuildTree* tree, std::vector<std::string>* problems) {
    tree->root = root;
    tree->files.clear();
    tree->emptyFolders.clear();
    tree->hasDeleteList = false;
    size_t problemsBefore = problems->size();
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        problems->push_back(root + ": not a folder");
        return false;
    }
    // Links are never followed: one pointing out of the build would ship whatever it reaches.
    fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::string name = it->path().lexically_relative(root).generic_string();
        const char* own = ownFileNameOf(name.c_str());
        if (it->is_symlink(error)) {
            problems->push_back(it->path().string() + ": a symbolic link; copy what it points to into the build");
        } else if (own != nullptr) {
            problems->push_back(name + ": the launcher or Updater keeps its own " + own +
                                " in the game folder; a game file of this name cannot be shipped or deleted");
        } else if (it->is_directory(error)) {
            if (fs::is_empty(it->path(), error)) tree->emptyFolders.push_back(name);
        } else if (!it->is_regular_file(error)) {
            problems->push_back(it->path().string() + ": neither a file nor a folder");
        } else if (isTopLevel(name) && foldCase(name) == kDeleteListName) {
            tree->hasDeleteList = true;
        } else {
            tree->files.push_back(name);
        }
    }
    if (error) problems->push_back(root + ": " + error.message());
    std::sort(tree->files.begin(), tree->files.end());
    std::sort(tree->emptyFolders.begin(), tree->emptyFolders.end());
    return problems->size() == problemsBefore;
}

bool planRelease(const BuildTree& oldTree, const BuildTree& newTree, const std::vector<std::string>& patchNames,
                 ReleasePlan* plan, std::vector<std::string>* problems) {
    size_t problemsBefore = problems->size();
    *plan = ReleasePlan{};
    if (newTree.hasDeleteList)
        problems->push_back(std::string(kDeleteListName) + ": the launcher takes a game file of this name for the "
                                                           "delete list of the patch");
    for (const BuildTree* tree : {&oldTree, &newTree})
        for (const std::string& name : tree->files)
            if (!canFoldCase(name))
                problems->push_back(name + ": this machine lacks the " + kUnicodeLocaleName +
                                    " locale, without which names beyond ASCII cannot be compared as Windows does");
    checkCaseCollisions(newTree, problems);
    checkFileFolderSwaps(oldTree, newTree, problems);

    std::set<std::string> archives = archivePaths(patchNames);
    std::set<std::string> oldExact(oldTree.files.begin(), oldTree.files.end());
    std::set<std::string> newFolded;
    for (const std::string& name : newTree.files) {
        newFolded.insert(foldCase(name));
        if (oldExact.count(name) && sameContent(oldTree.root + "/" + name, newTree.root + "/" + name)) continue;
        checkShippedName(name, archives, problems);
        plan->shipped.push_back(name);
    }
    std::set<std::string> oldFolders = foldersOf(oldTree);
    for (const std::string& folder : newTree.emptyFolders) {
        if (oldFolders.count(foldCase(folder))) continue;
        checkShippedName(folder, archives, problems);
        plan->newFolders.push_back(folder + "/");
    }
    // A file renamed only in case stays where it is on Windows: it is shipped, never deleted.
    for (const std::string& name : oldTree.files) {
        if (newFolded.count(foldCase(name))) continue;
        if (!isUtf8FileName(name) || !isDeletableName(name.c_str()))
            problems->push_back(name + ": the delete list cannot name this file (UTF-8 without control "
                                       "characters or \"\\\"; a line of 4 characters or fewer ends the list; at "
                                       "most 254 bytes; the launcher's path rule)");
        plan->deleted.push_back(name);
    }
    return problems->size() == problemsBefore;
}
