// Loading and holding the run's verified delta list.
#include "verification/delta_verify.h"

#include <vector>

#include "verification/patch_crypto.h"
#include "verification/patch_verify.h"

namespace {

DeltaList runList;
bool runListLoaded = false;

}  // namespace

bool verifyDeltaListText(const char* text, size_t length, const uint8_t publicKey[kP256PublicKeySize], DeltaList* list) {
    if (!parseDeltaList(text, length, list)) return false;
    return verifyP256Signature(publicKey, text, list->signedLength, list->signature);
}

bool loadDeltaList(const char* baseUrl, const char* localFile) {
    runListLoaded = false;
    uint8_t key[kP256PublicKeySize];
    if (!builtInPatchPublicKey(key)) return false;
    std::vector<char> text;
    if (!fetchSignedListText(baseUrl, kDeltaListName, localFile, &text)) return false;
    runListLoaded = verifyDeltaListText(text.data(), text.size(), key, &runList);
    return runListLoaded;
}

const DeltaList* runDeltaList() { return runListLoaded ? &runList : nullptr; }
