// SPDX-License-Identifier: MIT
// libgcrypt as the Windows build of the library gets it (MinGW-w64, found by FindGcrypt.cmake):
// the set-up, an Ed25519 verification in the library's s-expression forms (second test vector
// of RFC 8032, and the same with one bit changed) and a SHA-256 digest. Run under Wine by
// scripts/win32-gcrypt-check.sh; prints one line per check and "N passed, M failed".
#include <gcrypt.h>

#include <cstdio>
#include <cstring>

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const char *what)
{
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    ++(ok ? passed : failed);
}

bool verify(const unsigned char *msg, int len, const unsigned char *sig, const unsigned char *pub)
{
    gcry_sexp_t key = nullptr, value = nullptr, data = nullptr;
    const bool ok =
        gcry_sexp_build(&key, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                        32, pub) == 0 &&
        gcry_sexp_build(&value, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, sig, 32,
                        sig + 32) == 0 &&
        gcry_sexp_build(&data, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))", len,
                        msg) == 0 &&
        gcry_pk_verify(value, data, key) == 0;
    gcry_sexp_release(key);
    gcry_sexp_release(value);
    gcry_sexp_release(data);
    return ok;
}

} // namespace

int main()
{
    const bool ready = gcry_check_version(GCRYPT_VERSION) != nullptr;
    check(ready, "version check");
    if (ready) {
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        const unsigned char pub[32] = {
            0x3d, 0x40, 0x17, 0xc3, 0xe8, 0x43, 0x89, 0x5a, 0x92, 0xb7, 0x0a,
            0xa7, 0x4d, 0x1b, 0x7e, 0xbc, 0x9c, 0x98, 0x2c, 0xcf, 0x2e, 0xc4,
            0x96, 0x8c, 0xc0, 0xcd, 0x55, 0xf1, 0x2a, 0xf4, 0x66, 0x0c};
        unsigned char sig[64] = {
            0x92, 0xa0, 0x09, 0xa9, 0xf0, 0xd4, 0xca, 0xb8, 0x72, 0x0e, 0x82, 0x0b, 0x5f,
            0x64, 0x25, 0x40, 0xa2, 0xb2, 0x7b, 0x54, 0x16, 0x50, 0x3f, 0x8f, 0xb3, 0x76,
            0x22, 0x23, 0xeb, 0xdb, 0x69, 0xda, 0x08, 0x5a, 0xc1, 0xe4, 0x3e, 0x15, 0x99,
            0x6e, 0x45, 0x8f, 0x36, 0x13, 0xd0, 0xf1, 0x1d, 0x8c, 0x38, 0x7b, 0x2e, 0xae,
            0xb4, 0x30, 0x2a, 0xee, 0xb0, 0x0d, 0x29, 0x16, 0x12, 0xbb, 0x0c, 0x00};
        const unsigned char msg[1] = {0x72};
        check(verify(msg, 1, sig, pub), "Ed25519 good signature verified");
        sig[40] ^= 1;
        check(!verify(msg, 1, sig, pub), "Ed25519 changed signature refused");

        unsigned char digest[32];
        gcry_md_hash_buffer(GCRY_MD_SHA256, digest, "abc", 3);
        const unsigned char expected[32] = {
            0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
            0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
            0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
        check(std::memcmp(digest, expected, 32) == 0, "SHA-256 of \"abc\"");
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
