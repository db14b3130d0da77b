// Test helper: adds a CA certificate file (PEM or DER) to the Root store of the current Wine prefix, so
// that the local HTTPS patch server's certificates verify there. Exit code 0 on success.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool readWholeFile(const char* path, std::vector<BYTE>* content) {
    FILE* file = fopen(path, "rb");
    if (!file) return false;
    BYTE chunk[4096];
    size_t count = 0;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0) content->insert(content->end(), chunk, chunk + count);
    bool ok = !ferror(file);
    fclose(file);
    return ok && !content->empty();
}

// DER bytes of the first certificate; a PEM file is decoded, anything else is taken as DER.
bool toDer(const std::vector<BYTE>& content, std::vector<BYTE>* der) {
    const char* pemStart = "-----BEGIN";
    bool pem = content.size() > strlen(pemStart) && memcmp(content.data(), pemStart, strlen(pemStart)) == 0;
    if (!pem) {
        *der = content;
        return true;
    }
    std::string text(content.begin(), content.end());
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        return false;
    }
    der->resize(size);
    return CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, der->data(), &size, nullptr, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: install_test_ca <ca.pem|ca.der>\n");
        return 2;
    }
    std::vector<BYTE> content;
    std::vector<BYTE> der;
    if (!readWholeFile(argv[1], &content) || !toDer(content, &der)) {
        fprintf(stderr, "install_test_ca: cannot read a certificate from %s\n", argv[1]);
        return 1;
    }
    if (!CertAddEncodedCertificateToSystemStoreA("Root", der.data(), static_cast<DWORD>(der.size()))) {
        DWORD error = GetLastError();
        fprintf(stderr, "install_test_ca: adding to the Root store failed, error 0x%08lx\n", error);
        return 1;
    }
    return 0;
}
