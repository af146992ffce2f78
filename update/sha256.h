// SHA-256 of a byte range, to check the firmware image against the digest the
// build recorded for it before any of it reaches a controller.
#pragma once
#include <cstdint>

constexpr uint32_t SHA256_DIGEST_BYTES = 32;

void Sha256(const uint8_t* data, uint32_t size, uint8_t digest[SHA256_DIGEST_BYTES]);
// True when digest is not null and the range hashes to it.
bool Sha256Matches(const uint8_t* data, uint32_t size, const uint8_t* digest);
