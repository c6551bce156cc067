// The scratch directory of the checks and their text helpers.
#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

const char *const k_scratch_catalog = R"(<?xml version="1.0" encoding="UTF-8"?>
<NICFWData>
  <NIC name="ConnectX-5 EN" venid="15B3" devid="1017" subvenid="15B3" PSID="MT_0000000080" subdevid="0007" rom="16.9.1000" fwFile="fw-ConnectX5-16.9.1000.bin"/>
  <NIC name="ConnectX-5 EN" venid="15B3" devid="1017" subvenid="15B3" PSID="MT_0000000080" subdevid="0007" rom="16.35.2000" fwFile="fw-ConnectX5-16.35.2000.bin"/>
  <NIC name="ConnectX-4 Lx EN" venid="15B3" devid="1015" subvenid="15B3" PSID="MT_2420110034" subdevid="0003" rom="14.32.1010" fwFile="fw-ConnectX4Lx-14.32.1010.bin"/>
  <NIC name="ConnectX-6 Dx" venid="15B3" devid="101D" subvenid="15B3" PSID="MT_0000000436" subdevid="0016" rom="22.36.1010" fwFile="Tamaro-CX6"/>
  <NIC name="ConnectX-6" venid="15B3" devid="101B" subvenid="15B3" PSID="MT_0000000222" subdevid="0006" rom="20.36.1010" fwFile="n/a"/>
</NICFWData>
)";

const std::vector<known_adapter> k_known_adapters = {
    {0x15B3, 0x1017, 0x15B3, 0x0007, "MT_0000000080"},
    {0x15B3, 0x1015, 0x15B3, 0x0003, "MT_2420110034"},
    {0x15B3, 0x101D, 0x15B3, 0x0016, "MT_0000000436"},
};

namespace {

fs::path make_scratch_dir()
{
    // tmpfs where there is one: the report's save syncs to disk once per input.
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
                              ? fs::path("/dev/shm")
                              : fs::temp_directory_path();
    std::string dir = (base / "rovan-fuzz-XXXXXX").string();
    if (!mkdtemp(dir.data()))
        throw std::runtime_error("no scratch directory under " + base.string());
    const fs::path root(dir);
    fs::create_directories(root / "nic_fw");
    fs::create_directories(root / "tmp");
    std::ofstream(root / "nic_fw/NICFWData.xml") << k_scratch_catalog;
    fs::create_symlink("/dev/null", root / "mstflint.log");
    setenv("ROVAN_SYSROOT", dir.c_str(), 1);
    return root;
}

struct scratch_owner {
    fs::path dir = make_scratch_dir();
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

in_scratch_dir::in_scratch_dir() : previous_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    if (previous_ < 0 || chdir(scratch_dir().c_str()) != 0)
        throw std::runtime_error("cannot work in " + scratch_dir().string());
}

in_scratch_dir::~in_scratch_dir()
{
    if (fchdir(previous_) != 0)
        std::abort();
    close(previous_);
}

std::vector<std::string> split_lines(std::string_view text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const size_t stop = end == std::string_view::npos ? text.size() : end + 1;
        lines.emplace_back(text.substr(start, stop - start));
        start = stop;
    }
    return lines;
}

std::vector<std::string> split_at(std::string_view text, char separator)
{
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == separator)
            fields.emplace_back();
        else
            fields.back().push_back(c);
    }
    return fields;
}

bool has_nocase(std::string_view haystack, std::string_view needle)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (needle.size() > haystack.size())
        return false;
    for (size_t at = 0; at + needle.size() <= haystack.size(); ++at) {
        size_t i = 0;
        while (i < needle.size() && lower(haystack[at + i]) == lower(needle[i]))
            ++i;
        if (i == needle.size())
            return true;
    }
    return false;
}

namespace {

// The length of the UTF-8 sequence at pos when it is a character XML allows, else 0.
size_t xml_char_length(std::string_view text, size_t pos)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80)
        return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
    size_t length;
    uint32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, cp = lead & 0x1Fu;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, cp = lead & 0x0Fu;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, cp = lead & 0x07u;
    else
        return 0;
    if (pos + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(pos + i) & 0x3Fu);
    }
    const bool shortest = (length == 3 && cp >= 0x800) || (length == 4 && cp >= 0x10000) || length == 2;
    const bool allowed = (cp < 0xD800 || (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF));
    return shortest && allowed ? length : 0;
}

} // namespace

std::string xml_carriable(std::string_view text)
{
    std::string out;
    for (size_t pos = 0; pos < text.size();) {
        const size_t length = xml_char_length(text, pos);
        if (length == 0) {
            out.push_back('?');
            ++pos;
        } else {
            out.append(text.substr(pos, length));
            pos += length;
        }
    }
    return out;
}

std::string printable(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '"' && c != '\\') {
            out.push_back(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", u);
            out += escape;
        }
    }
    return out + "\"";
}
