// The libFuzzer entry of one target, whose name the build gives; its checks live in checks/.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sanitizer/common_interface_defs.h>

#include "checks/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const fuzz_check *const check = find_fuzz_check(ROVAN_FUZZ_TARGET);
    if (!check) {
        std::fputs("no fuzz check named " ROVAN_FUZZ_TARGET "\n", stderr);
        std::abort();
    }
    const check_result failed = check->run(std::string_view(reinterpret_cast<const char *>(data), size));
    if (failed) {
        // The summary goes where the sanitizers report, which stays open when the fuzzer closes stderr.
        const std::string summary = std::string("rovan property of ") + check->name + ": " + *failed;
        __sanitizer_report_error_summary(summary.c_str());
        std::abort();
    }
    return 0;
}
