// Maps the error code of a failed game start to the message a player can act on.
#include "launch/launch_errors.h"

#include <cstdio>

#include "settings/launcher_settings.h"

namespace {

struct ErrorMessage {
    unsigned long code;
    int index;
};

// DLL initialisation, missing file or path, corrupt image, device, sharing and bad-format errors.
const ErrorMessage kKnownErrors[] = {
    {1114, 1}, {1154, 1}, {1157, 1}, {5097, 1}, {5080, 1}, {2, 2},  {3, 2},   {11, 5},
    {13, 5},   {31, 3},   {32, 4},   {33, 4},   {193, 5},
};

}  // namespace

int launchFailureMessageIndex(unsigned long errorCode) {
    for (const ErrorMessage& known : kKnownErrors) {
        if (known.code == errorCode) return known.index;
    }
    return 0;
}

void formatLaunchFailure(unsigned long errorCode, char* out, unsigned long outSize) {
    int index = launchFailureMessageIndex(errorCode);
    if (index == 0) {
        snprintf(out, outSize, gSettings.launchFailureMessages[0], static_cast<int>(errorCode));
    } else {
        snprintf(out, outSize, "%s", gSettings.launchFailureMessages[index]);
    }
}
