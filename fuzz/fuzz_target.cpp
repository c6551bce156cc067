// The libFuzzer entry of one target, whose name and check the build gives; the checks live in checks/.
#include <cstdint>
#include <cstdlib>

#include <sanitizer/common_interface_defs.h>

#include "checks/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (const check_result failed = ROVAN_FUZZ_CHECK(std::string_view(reinterpret_cast<const char *>(data), size))) {
        // The summary goes where the sanitizers report, which stays open when the fuzzer closes stderr.
        __sanitizer_report_error_summary(("rovan property of " ROVAN_FUZZ_TARGET ": " + *failed).c_str());
        std::abort();
    }
    return 0;
}
