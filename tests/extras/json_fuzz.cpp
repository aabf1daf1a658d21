// Fuzz target: any bytes as an animation file, through the four lookups with the keys the loaders use.
// A lookup may find nothing; it must never crash, read outside the text or give a block that is not a part
// of the text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "extras/json_lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::string_view key : {"frameW", "head", "x", "clips", "exits", "idle", "", "\""}) {
        (void)qm::jsonNumber(text, key, 7);
        (void)qm::jsonFlag(text, key);
        for (auto [open, close] : {std::pair{'{', '}'}, std::pair{'[', ']'}}) {
            const std::string_view block = qm::jsonBlock(text, key, open, close);
            if (!block.empty() &&
                (block.data() < text.data() || block.data() + block.size() > text.data() + size))
                __builtin_trap();
            (void)qm::jsonNumbers(block);
        }
    }
    (void)qm::jsonNumbers(text);
    return 0;
}
