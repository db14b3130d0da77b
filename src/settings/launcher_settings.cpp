// The settings record's initial values. Host names come from the build's deployment values;
// every other text is fixed here, in one place.
#include "settings/launcher_settings.h"

#include "deployment.h"

LauncherSettings gSettings = {
    200,
    200,
    "VYR Launcher",
    0x00FFFFFF,
    "Fixedsys",
    16,
    {
        "Failed to run due to error code: %d. Please contact customer support.",
        "Failed to initialize DLL. Please install DirectX.",
        "Executable file not found. Please reinstall the program.",
        "Device or driver connection failed. Please reinstall your graphics driver or DirectX.",
        "DirectX is being used by another program.",
        "The executable file or DirectX is corrupted. Please run a disk check and reinstall the program.",
    },
    {0 /* AC_SRC_OVER */, 0, 255, 1 /* AC_SRC_ALPHA */},
    "q7Rv#Lomxet",
    {
        VYR_PATCH_BASE_URL,
        VYR_PATCH_BASE_URL "/LauncherPatchInfo.txt",
        "Norvane.exe",
        "140 340 00FFFFFF 00212018 Arial 11",
        "20  349",
        "335 364",
        "138 364",
        "237 364",
        "141 418",
        "141 430",
        VYR_HOME_PAGE_URL,
        VYR_SOCIAL_PAGE_URL,
        "Initializing...",
        "Checking current version...",
        "Ready to start the game. [Version: %d]",
        "Unable to retrieve information from the server.",
        "Please download the installer client again.",
        "Error",
        "config.txt is incorrect.",
        "Version not found in the configuration file.\nResetting version to default.",
        "The launcher did not run properly. Please try again.",
    },
};
