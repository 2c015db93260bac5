// The receive filter must not depend on where the driver happened to split the
// bytes, and never grow them; port names of any shape must resolve without harm.
#include "platform/PortName.h"
#include "platform/RxFilter.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const TRxFilterConfig config{(data[0] & 1) != 0, (data[0] & 2) != 0, char(data[1])};
    const std::string input(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::size_t split = input.empty() ? 0 : data[2] % (input.size() + 1);

    std::string whole = input;
    TRxFilter one;
    whole.resize(one.Apply(config, whole.data(), whole.size()));

    std::string a = input.substr(0, split), b = input.substr(split);
    TRxFilter two;
    a.resize(two.Apply(config, a.data(), a.size()));
    b.resize(two.Apply(config, b.data(), b.size()));
    if (whole.size() > input.size() || a + b != whole) {
        std::abort();
    }

    const std::string resolved = ResolvePortName(input);
    if (!ComPortNumber(input) && resolved != input) {
        std::abort();
    }
    return 0;
}
