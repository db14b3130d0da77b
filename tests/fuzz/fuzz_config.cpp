// Fuzzes the configuration file's road: decipher whatever the file holds, then read its text; and
// the round trip, where any text enciphered and deciphered again must come back unchanged.
#include <string>

#include "cipher/config_transform.h"
#include "fuzz_support.h"
#include "settings/config_text.h"

namespace {

void decipherAndParse(const uint8_t* data, size_t size) {
    std::vector<unsigned char> buffer(data, data + size);
    int32_t length = decipherConfig(buffer.data(), static_cast<uint32_t>(buffer.size()));
    FUZZ_CHECK(length >= 0 && static_cast<size_t>(length) <= size);
    ConfigTokens tokens;
    scanConfigTokens(buffer.data(), static_cast<size_t>(length), tokens);
    FUZZ_CHECK(isTerminated(tokens.key, sizeof tokens.key));
    FUZZ_CHECK(isTerminated(tokens.value, sizeof tokens.value));
    int32_t version = 0;
    ConfigTextResult result = parseConfigText(buffer.data(), static_cast<size_t>(length), version);
    if (result == ConfigTextResult::Usable) FUZZ_CHECK(version != 0);
}

// The input, cut at its first zero byte, is the text; the buffer is as big as the file reader's.
void roundTrip(const uint8_t* data, size_t size) {
    std::vector<char> text = zeroTerminatedCopy(data, size < 255 ? size : 255);
    std::string original(text.data());
    std::vector<char> buffer(512, '\0');
    memcpy(buffer.data(), original.c_str(), original.size() + 1);
    int32_t length = encipherConfig(buffer.data(), buffer.size());
    FUZZ_CHECK(length > 0 && static_cast<size_t>(length) == encipheredConfigSize(original.size()));
    int32_t plainLength = decipherConfig(reinterpret_cast<unsigned char*>(buffer.data()), static_cast<uint32_t>(length));
    FUZZ_CHECK(static_cast<size_t>(plainLength) == original.size());
    FUZZ_CHECK(memcmp(buffer.data(), original.data(), original.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decipherAndParse(data, size);
    roundTrip(data, size);
    return 0;
}
