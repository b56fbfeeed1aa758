// libFuzzer's target: any bytes from a terminal, taken one at a time as the
// wait takes them. A key ends, and a new one begins; no byte is ever kept
// past the key's bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "key_bytes.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KeyBytes key;
    for (std::size_t index = 0; index < size; ++index) {
        static_cast<void>(PauseEndsKey(key));
        if (TakeByte(key, data[index])) {
            key = KeyBytes{};
        } else if (key.length >= key.bytes.size()) {
            std::abort(); // the next byte would have nowhere to go
        }
    }
    return 0;
}
