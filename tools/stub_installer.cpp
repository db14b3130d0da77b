// Stand-in for the game's installer in the Updater tests and demo: records the installed version in
// the registry value the launcher reads, as the real installer does, then ends. What it records and
// its exit code come from the environment, which Wine hands down from the test through the launcher
// and Updater: VYR_STUB_INSTALLER_VERSION (nothing is written when unset) and VYR_STUB_INSTALLER_EXIT.
// VYR_STUB_INSTALLER_HANG makes it an installer that never ends and writes nothing.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

const char kInstallerKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Norvane.exe\\TH";

bool writeInstallerVersion(const char* version) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG status = RegSetValueExA(key, "InstallerVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                                 static_cast<DWORD>(strlen(version) + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (getenv("VYR_STUB_INSTALLER_HANG")) Sleep(INFINITE);
    const char* version = getenv("VYR_STUB_INSTALLER_VERSION");
    if (version && *version && !writeInstallerVersion(version)) return 3;
    const char* exitCode = getenv("VYR_STUB_INSTALLER_EXIT");
    return exitCode ? atoi(exitCode) : 0;
}
