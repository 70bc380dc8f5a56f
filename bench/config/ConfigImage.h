// The configuration images the register-write benchmarks alternate between,
// so that every iteration changes registers.
#pragma once

#include "Dekl.h"

#include <cstddef>
#include <cstdint>

inline TModuleConfig Image(bool odd)
{
    TModuleConfig c = ModuleConfigDefaults();
    for (int n = 0; n < 4; ++n) {
        c.DinNegation[std::size_t(n)] = uint8_t(odd ? 0x5A + n : 0xA5 - n);
        c.DoutNegation[std::size_t(n)] = uint8_t(odd ? 0x0F << n : 0xF0 >> n);
        c.DoutInitState[std::size_t(n)] = uint8_t(odd ? 0x81 : 0x18);
    }
    return c;
}
