#include "flash/image_name.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "control/console.h"
#include "globals.h"
#include "discovery/bus_address.h"

namespace {

// A file made unique by mkstemp, closed at once and removed when the owner
// goes, whichever way the resolution ends.
class answer_file {
public:
    explicit answer_file(const std::string &tmpl)
    {
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        const int fd = mkstemp(name.data());
        if (fd >= 0) {
            close(fd);
            name_ = name.data();
        }
    }
    ~answer_file()
    {
        if (name_)
            std::remove(name_->c_str());
    }
    answer_file(const answer_file &) = delete;
    answer_file &operator=(const answer_file &) = delete;

    const std::optional<std::string> &name() const { return name_; }

private:
    std::optional<std::string> name_;
};

bool is_delimiter(char c, const char *delimiter)
{
    return c != '\0' && std::strchr(delimiter, c) != nullptr;
}

// Cuts text where strtok would end its first token: at the first delimiter
// that follows a non-delimiter. Leading delimiters stay.
void cut_after_first_token(std::string &text, const char *delimiter)
{
    size_t pos = 0;
    while (pos < text.size() && is_delimiter(text[pos], delimiter))
        ++pos;
    while (pos < text.size() && !is_delimiter(text[pos], delimiter))
        ++pos;
    text.resize(pos);
}

// The fields strtok would return one after the other: runs of text between
// delimiters, empty ones never.
std::vector<std::string> split_fields(const std::string &text, char delimiter)
{
    std::vector<std::string> fields;
    std::string field;
    for (char c : text) {
        if (c == delimiter) {
            if (!field.empty())
                fields.push_back(field);
            field.clear();
        } else {
            field.push_back(c);
        }
    }
    if (!field.empty())
        fields.push_back(field);
    return fields;
}

// The answer's line end (or any white space) is no part of a file name; a
// name of white space alone names nothing.
opt_text trimmed_name(const std::string &field)
{
    const size_t end = field.find_last_not_of(" \t\r\n\v\f");
    if (end == std::string::npos)
        return std::nullopt;
    return field.substr(0, end + 1);
}

} // namespace

int get_mlnx_info(const std::string &cmd, std::string &data, const std::string &dataFile, const char *delimiter)
{
    data.clear();
    const int status = do_command(cmd);
    if (status != 0) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR, "command failed: " + cmd + "\n");
        return status;
    }
    std::ifstream in(dataFile);
    if (!in) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR, "unable to open file " + dataFile + "\n");
        return 2;
    }
    if (std::getline(in, data) && !in.eof())
        data.push_back('\n');
    cut_after_first_token(data, delimiter);
    return 0;
}

int modify_imagename(nic_info &curnic, std::string *servername)
{
    // The address goes into a shell command line.
    if (!curnic.pbus_info || !is_pci_address(*curnic.pbus_info)) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR,
                           "modify_imagename: not a PCI bus address: " + curnic.pbus_info.value_or("") + "\n");
        return 2;
    }
    const std::string dataFileName = "dataXXXXXX";
    const answer_file answer(dataFileName);
    if (!answer.name()) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR, "unable to open file " + dataFileName + "\n");
        return 2;
    }

    const std::string cmd = "./getmlnxinfo imgfile " + *curnic.pbus_info + " > " + *answer.name();
    std::string datastring;
    int result = get_mlnx_info(cmd, datastring, *answer.name(), " ");
    if (result != 0)
        return result;
    if (!datastring.empty() && datastring[0] == '0')
        return 1;

    const std::vector<std::string> fields = split_fields(datastring, '#');
    if (!fields.empty() && servername)
        *servername = fields[0];
    if (curnic.pxmlFwImage.empty())
        curnic.pxmlFwImage.resize(1);
    curnic.pxmlFwImage[0] = fields.size() >= 2 ? trimmed_name(fields[1]) : std::nullopt;
    return 0;
}
