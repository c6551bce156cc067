// The libFuzzer entry of one target, whose name the build gives; its checks live in checks/.
#include <cstdint>
#include <cstdlib>

#include <sanitizer/common_interface_defs.h>

#include "checks/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const fuzz_check *const check = [] {
        for (const fuzz_check &c : k_fuzz_checks) {
            if (c.name == std::string_view(ROVAN_FUZZ_TARGET))
                return &c;
        }
        std::abort(); // the build names only targets of the table
    }();
    if (const check_result failed = check->run(std::string_view(reinterpret_cast<const char *>(data), size))) {
        // The summary goes where the sanitizers report, which stays open when the fuzzer closes stderr.
        __sanitizer_report_error_summary((std::string("rovan property of ") + check->name + ": " + *failed).c_str());
        std::abort();
    }
    return 0;
}
