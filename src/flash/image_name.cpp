// Image-name resolution through the package's getmlnxinfo.
#include "flash/image_name.h"

#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <optional>
#include <vector>

#include "core/console.h"
#include "core/event_log.h"
#include "core/pci_address.h"
#include "platform/signals.h"
#include "platform/temp_file.h"

namespace {

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

std::optional<std::string> get_mlnx_info(run_context &ctx, const process_request &cmd, std::string &data,
                                         const std::string &dataFile, const char *delimiter)
{
    data.clear();
    const int status = do_command(ctx, cmd);
    if (status != 0) {
        log_mellanox_event(ctx.log, LOG_ERROR, "command failed: ", command_text(cmd), "\n");
        return "getmlnxinfo exited with status " + std::to_string(status);
    }
    std::ifstream in(dataFile);
    if (!in) {
        log_mellanox_event(ctx.log, LOG_ERROR, "unable to open file ", dataFile, "\n");
        return "its answer could not be read";
    }
    data = read_answer_line(in, delimiter);
    return std::nullopt;
}

std::string read_answer_line(std::istream &in, const char *delimiter)
{
    std::string data;
    if (std::getline(in, data) && !in.eof())
        data.push_back('\n');
    cut_after_first_token(data, delimiter);
    return data;
}

image_answer parse_image_answer(const std::string &datastring)
{
    image_answer answer;
    if (!datastring.empty() && datastring[0] == '0') {
        answer.no_image = true;
        return answer;
    }
    const std::vector<std::string> fields = split_fields(datastring, '#');
    if (!fields.empty())
        answer.server = fields[0];
    if (fields.size() >= 2)
        answer.image = trimmed_name(fields[1]);
    return answer;
}

namespace {

// The answer file, the command and the answer's use; the caller holds signals back.
std::optional<std::string> resolve_image_name(run_context &ctx, nic_info &curnic, std::string *servername)
{
    const std::string dataFileName = "dataXXXXXX";
    temp_file answer(dataFileName, O_CLOEXEC);
    if (!answer.created()) {
        log_mellanox_event(ctx.log, LOG_ERROR, "unable to open file ", dataFileName, "\n");
        return "its answer file could not be made";
    }

    process_request cmd;
    cmd.path = "./getmlnxinfo";
    cmd.argv = {cmd.path, "imgfile", *curnic.pbus_info};
    cmd.out = {output_sink::kind::file, answer.fd(), answer.name()};
    std::string datastring;
    if (std::optional<std::string> failed = get_mlnx_info(ctx, cmd, datastring, answer.name(), " "))
        return failed;
    const image_answer parsed = parse_image_answer(datastring);
    if (parsed.no_image)
        return "getmlnxinfo knows no image for it";
    if (parsed.server && servername)
        *servername = *parsed.server;
    if (curnic.images.empty())
        curnic.images.resize(1);
    curnic.images[0].file = parsed.image;
    return std::nullopt;
}

} // namespace

image_resolution modify_imagename(run_context &ctx, nic_info &curnic, std::string *servername)
{
    // The address is shown in a command line and given to getmlnxinfo.
    if (!curnic.pbus_info || !pci_address::parse(*curnic.pbus_info)) {
        log_mellanox_event(ctx.log, LOG_ERROR, "modify_imagename: not a PCI bus address: ",
                           curnic.pbus_info.value_or(""), "\n");
        return {.failure = "its bus address is not a PCI address"};
    }
    // From before the answer file is made until it is gone: a signal then ends the run only afterwards.
    const signal_hold hold;
    image_resolution resolution {.failure = resolve_image_name(ctx, curnic, servername)};
    resolution.signal = hold.held();
    return resolution;
}
