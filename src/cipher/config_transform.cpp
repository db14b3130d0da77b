// In-place enciphering of the configuration text with the built-in key text: the file content is
// one salted message of the text. No terminating zero is written either way.
#include "cipher/config_transform.h"

#include <cstring>

#include "cipher/aes_cipher.h"
#include "settings/launcher_settings.h"

namespace {

// Measured on every call, so another key text length changes the salt length with it.
ByteArray configKey() {
    const char* keyText = gSettings.cipherKeyText ? gSettings.cipherKeyText : "";
    return ByteArray(keyText, keyText + strlen(keyText));
}

}  // namespace

size_t encipheredConfigSize(size_t textLength) {
    size_t keyLength = configKey().size();
    size_t saltLength = keyLength < kAesKeySize ? kAesKeySize - keyLength : 0;
    size_t blocks = (textLength + kAesBlockSize - 1) / kAesBlockSize;
    return saltLength + 1 + blocks * kAesBlockSize;
}

int32_t decipherConfig(unsigned char* buffer, uint32_t length) {
    ByteArray message(buffer, buffer + length);
    ByteArray plain;
    uint32_t textLength = decryptBytes(configKey(), message, plain);
    if (textLength > 0) memcpy(buffer, plain.data(), textLength);
    return static_cast<int32_t>(textLength);
}

int32_t encipherConfig(char* text, size_t capacity) {
    size_t textLength = strnlen(text, capacity);
    if (encipheredConfigSize(textLength) > capacity) return -1;
    ByteArray plain(text, text + textLength);
    ByteArray message;
    uint32_t messageLength = encryptBytes(configKey(), plain, message);
    memcpy(text, message.data(), messageLength);
    return static_cast<int32_t>(messageLength);
}
