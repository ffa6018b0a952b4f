#include "run_identity.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>

namespace tool {

RunIdentity new_run_identity()
{
    std::random_device entropy;
    uint8_t bytes[16];
    for (size_t i = 0; i < sizeof bytes; i += 4) {
        const uint32_t word = entropy();
        for (size_t k = 0; k < 4; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4: random
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    char uuid[37];
    char *at = uuid;
    for (size_t i = 0; i < sizeof bytes; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) *at++ = '-';
        at += std::snprintf(at, 3, "%02x", bytes[i]);
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return {std::string("smi:local/onset/") + uuid,
            std::chrono::duration_cast<std::chrono::microseconds>(now).count()};
}

}  // namespace tool
