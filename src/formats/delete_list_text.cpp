// Delete-list line rules shared by the launcher's reader and the publisher's writer.
#include "formats/delete_list_text.h"

#include <cstring>

#include "formats/path_check.h"

bool endsDeleteList(const char* line) { return strlen(line) <= kListEndLength; }

bool isDeletableName(const char* name) {
    size_t length = strlen(name);
    // The line feed makes the line one longer than the name; a name that fills the whole read is
    // still taken whole, since the launcher then finds the line feed right after it.
    if (length + 1 <= kListEndLength || length > kDeleteLineSize - 1) return false;
    if (name[length - 1] == '/' || name[length - 1] == '\\') return false;
    return isSafeRelativePath(name);
}

std::string formatDeleteList(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += name + "\n";
    return text;
}
