// The scratch directory of the checks and the printing of inputs.
#include "support.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The catalog the report check's update reads: the demo's boards, a code-named image and an entry without a file.
const char *const k_scratch_catalog = R"(<?xml version="1.0" encoding="UTF-8"?>
<NICFWData>
  <NIC name="ConnectX-5 EN" venid="15B3" devid="1017" subvenid="15B3" PSID="MT_0000000080" subdevid="0007" rom="16.9.1000" fwFile="fw-ConnectX5-16.9.1000.bin"/>
  <NIC name="ConnectX-5 EN" venid="15B3" devid="1017" subvenid="15B3" PSID="MT_0000000080" subdevid="0007" rom="16.35.2000" fwFile="fw-ConnectX5-16.35.2000.bin"/>
  <NIC name="ConnectX-4 Lx EN" venid="15B3" devid="1015" subvenid="15B3" PSID="MT_2420110034" subdevid="0003" rom="14.32.1010" fwFile="fw-ConnectX4Lx-14.32.1010.bin"/>
  <NIC name="ConnectX-6 Dx" venid="15B3" devid="101D" subvenid="15B3" PSID="MT_0000000436" subdevid="0016" rom="22.36.1010" fwFile="Tamaro-CX6"/>
  <NIC name="ConnectX-6" venid="15B3" devid="101B" subvenid="15B3" PSID="MT_0000000222" subdevid="0006" rom="20.36.1010" fwFile="n/a"/>
</NICFWData>
)";

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
        std::ofstream(dir / "nic_fw/NICFWData.xml") << k_scratch_catalog;
        fs::create_symlink("/dev/null", dir / "mstflint.log");
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
