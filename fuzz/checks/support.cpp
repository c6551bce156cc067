// The scratch directory of the checks and the printing of inputs.
#include "checks.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

#include "core/event_log.h"

namespace fs = std::filesystem;

namespace {

struct scratch_owner {
    fs::path dir;
    scratch_owner()
    {
        // tmpfs where there is one: the report written for the round trip is synced once per input.
        const fs::path base = access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string name = (base / "rovan-fuzz-XXXXXX").string();
        if (!mkdtemp(name.data()))
            throw std::runtime_error("no scratch directory under " + base.string());
        dir = name;
        fs::create_directories(dir / "nic_fw");
        fs::create_directories(dir / "tmp");
        // The catalog seed package.xml is also the catalog of the report check's update.
        fs::copy_file(fs::path(ROVAN_FUZZ_DIR) / "corpus/catalog/package.xml", dir / "nic_fw/NICFWData.xml");
        setenv("ROVAN_SYSROOT", name.c_str(), 1);
    }
    ~scratch_owner()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

} // namespace

const fs::path &scratch_dir()
{
    static const scratch_owner owner;
    return owner.dir;
}

std::string printable(std::string_view text)
{
    return "\"" + log_value(std::string(text)) + "\"";
}
