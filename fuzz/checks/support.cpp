// The scratch directory of the checks and the printing of inputs.
#include "checks.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct scratch_owner {
    fs::path dir;
    scratch_owner()
    {
        // tmpfs where there is one: the report's save syncs to disk once per input.
        std::error_code ec;
        const fs::path base = fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
                                  ? fs::path("/dev/shm")
                                  : fs::temp_directory_path();
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
    constexpr const char *hex = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '"' && c != '\\')
            out += c;
        else
            out += std::string("\\x") + hex[u >> 4] + hex[u & 15];
    }
    return out + "\"";
}
