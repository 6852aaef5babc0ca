#include "archive/sha256_digest.h"

#include <openssl/evp.h>
#include <stdexcept>

struct sha256_digest::context {
    struct free_context {
        void operator()(EVP_MD_CTX* handle) const { EVP_MD_CTX_free(handle); }
    };
    std::unique_ptr<EVP_MD_CTX, free_context> handle{EVP_MD_CTX_new()};

    void start() {
        if (!handle || EVP_DigestInit_ex(handle.get(), EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("SHA-256 is not available");
    }
};

sha256_digest::sha256_digest() : state(std::make_unique<context>()) {
    state->start();
}

sha256_digest::~sha256_digest() = default;

void sha256_digest::add(const char* bytes, size_t count) {
    EVP_DigestUpdate(state->handle.get(), bytes, count);
}

std::string sha256_digest::finish() {
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(state->handle.get(), sum, &length);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[sum[i] >> 4];
        text += digits[sum[i] & 0x0f];
    }
    state->start();
    return text;
}
