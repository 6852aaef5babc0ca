#pragma once
// SHA-256 of a stream of bytes, by OpenSSL's vetted implementation.

#include <cstddef>
#include <memory>
#include <string>

class sha256_digest {
public:
    sha256_digest();
    ~sha256_digest();
    sha256_digest(const sha256_digest&) = delete;
    sha256_digest& operator=(const sha256_digest&) = delete;

    void add(const char* bytes, size_t count);
    // The 64 lower-case hex digits of everything added; the digest is then empty again.
    std::string finish();

private:
    struct context;
    std::unique_ptr<context> state;
};
