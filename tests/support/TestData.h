// Reproducible test data.
#ifndef TESTS_SUPPORT_TESTDATA_H
#define TESTS_SUPPORT_TESTDATA_H

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace testdata {

// n pseudo-random bytes, the same for the same seed.
inline std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937_64 gen(seed);
    std::string s(n, '\0');
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v = gen();
        std::memcpy(&s[i], &v, 8);
    }
    for (; i < n; ++i) s[i] = static_cast<char>(gen());
    return s;
}

}  // namespace testdata

#endif  // TESTS_SUPPORT_TESTDATA_H
