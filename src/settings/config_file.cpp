// Reading and writing the enciphered "config" file in the current (launcher) directory. A write
// goes to "config.tmp" first and replaces "config" in one step, so a failed write never loses it.
#include "settings/config_file.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "app/launcher_state.h"
#include "cipher/config_transform.h"
#include "formats/own_file_names.h"
#include "settings/config_text.h"
#include "settings/launcher_settings.h"

namespace {

const char* const kConfigName = own_file::kConfig;
const char* const kConfigTempName = own_file::kConfigTemp;
enum { kConfigWriteBufferSize = 256 };

// The whole content of an open file; false when its size cannot be found or no buffer can be had.
bool readOpenFile(FILE* file, std::vector<unsigned char>& content) {
    if (fseek(file, 0, SEEK_END) != 0) return false;
    long size = ftell(file);
    if (size < 0 || static_cast<unsigned long>(size) > UINT32_MAX || fseek(file, 0, SEEK_SET) != 0) return false;
    try {
        content.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    content.resize(content.empty() ? 0 : fread(content.data(), 1, content.size(), file));
    return true;
}

void showConfigError(SettingText text) {
    MessageBoxA(gState.mainWindow, settingText(text), settingText(SettingText::MsgErrorCaption), MB_OK);
}

// Writes the bytes and forces them to disk; any short write, flush or close failure answers false.
bool writeFileThrough(const char* name, const char* bytes, DWORD size) {
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool complete = WriteFile(file, bytes, size, &written, nullptr) && written == size && FlushFileBuffers(file);
    bool closed = CloseHandle(file) != 0;
    return complete && closed;
}

// "config" holds either its old content or all of the new one, never a part.
bool replaceConfigFile(const char* bytes, DWORD size) {
    if (writeFileThrough(kConfigTempName, bytes, size) &&
        MoveFileExA(kConfigTempName, kConfigName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(kConfigTempName);
    return false;
}

}  // namespace

int readConfig() {
    // A "config.tmp" now is a write that was cut off (a kill, a crash): "config" still holds the old
    // or the new content whole, and the temporary file would otherwise stay for good.
    DeleteFileA(kConfigTempName);
    FILE* file = fopen(kConfigName, "rb");
    if (!file) return 0;
    gState.localGameVersion = 0;
    std::vector<unsigned char> content;
    bool haveContent = readOpenFile(file, content);
    fclose(file);
    if (!haveContent) return 0;

    int32_t textLength = decipherConfig(content.data(), static_cast<uint32_t>(content.size()));
    int32_t version = 0;
    switch (parseConfigText(content.data(), static_cast<size_t>(textLength), version)) {
        case ConfigTextResult::KeyIncorrect:
            showConfigError(SettingText::MsgConfigIncorrect);
            return 0;
        case ConfigTextResult::VersionMissing:
            showConfigError(SettingText::MsgVersionNotFound);
            return 0;
        case ConfigTextResult::Usable:
            break;
    }
    gState.localGameVersion = version;
    return 1;
}

int writeConfig() {
    char content[kConfigWriteBufferSize] = {};
    int32_t contentLength = -1;
    if (formatConfigText(content, sizeof content, gState.localGameVersion) >= 0)
        contentLength = encipherConfig(content, sizeof content);
    if (contentLength < 0 || !replaceConfigFile(content, static_cast<DWORD>(contentLength))) {
        MessageBoxA(nullptr, "Can't open Config", "Error", MB_OK);
        return 0;
    }
    return 1;
}
