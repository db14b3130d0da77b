// The patch index public key the build carries. Its own file so that a test program can link a copy
// compiled against another deployment header, and so carry a test key, without a second engine build.
#include <cstring>

#include "deployment.h"
#include "verification/patch_crypto.h"

bool builtInPatchPublicKey(uint8_t publicKey[kP256PublicKeySize]) {
    static const char kKeyHex[] = VYR_PATCH_PUBLIC_KEY;
    if (kKeyHex[0] == '\0') return false;
    return parseHex(kKeyHex, strlen(kKeyHex), publicKey, kP256PublicKeySize);
}
