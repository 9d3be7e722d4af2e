// Fuzzes map_str against std::map with the model its unit test uses (map_str_model.h says how
// the input is read).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "map_str_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(map_str_model::run(data, size).empty());
    return 0;
}
