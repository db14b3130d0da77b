// Test helper: a fresh folder under the system temp folder, made the current directory for the
// test's lifetime and removed afterwards, the way the launcher lives in its game folder.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH] = {};
        GetTempPathA(sizeof base, base);
        char name[MAX_PATH] = {};
        snprintf(name, sizeof name, "%svyrtest-%lu-%lu", base, GetCurrentProcessId(), ++counter());
        path_ = name;
        CreateDirectoryA(path_.c_str(), nullptr);
        GetCurrentDirectoryA(sizeof previous_, previous_);
        SetCurrentDirectoryA(path_.c_str());
    }
    ~TempFolder() {
        SetCurrentDirectoryA(previous_);
        removeTree(path_);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& relative) const { return path_ + "\\" + relative; }

    static void removeTree(const std::string& folder) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::string name = entry.cFileName;
                if (name == "." || name == "..") continue;
                std::string full = folder + "\\" + name;
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    removeTree(full);
                } else {
                    DeleteFileA(full.c_str());
                }
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
        RemoveDirectoryA(folder.c_str());
    }

private:
    static unsigned long& counter() {
        static unsigned long value = 0;
        return value;
    }
    std::string path_;
    char previous_[MAX_PATH] = {};
};

// Reads a whole file; empty when it does not exist.
inline std::string readWholeFile(const std::string& path) {
    std::string content;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return content;
    char chunk[4096];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, count);
    fclose(file);
    return content;
}

inline void writeWholeFile(const std::string& path, const std::string& content) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return;
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
}

// Waits up to timeoutMs for a file to appear with some content.
inline bool waitForFile(const std::string& path, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        if (!readWholeFile(path).empty()) return true;
        Sleep(100);
    }
    return false;
}
