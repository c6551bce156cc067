// getmlnxinfo's answer: the image name taken from it is a bare name from its first line, acted on as parsed.
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "checks.h"
#include "fake_tools.h"
#include "flash/image_name.h"
#include "support.h"

namespace {

// What modify_imagename does with the answer: the answer is written where
// the command line sends getmlnxinfo's output, by a stand-in for the shell.
check_result check_resolution(std::string_view input, const image_answer &parsed)
{
    const std::filesystem::path &dir = scratch_dir();
    const in_scratch_dir package;
    test_run run;
    run.tools.on_shell = [&](const std::string &command) {
        const size_t to = command.rfind("> ");
        if (to != std::string::npos)
            std::ofstream(dir / command.substr(to + 2), std::ios::binary) << input;
        return 0;
    };
    nic_info nic;
    nic.pbus_info = "0000:05:00.0";
    nic.images = {catalog_image {{}, std::string("Tamaro-CX6"), {}}};
    std::string server = "unset";
    const image_resolution resolution = modify_imagename(run.ctx, nic, &server);
    if (resolution.failure.has_value() != parsed.no_image)
        return "modify_imagename answered " + resolution.failure.value_or("resolved") + " to " + printable(input);
    const opt_text expected = parsed.no_image ? opt_text("Tamaro-CX6") : parsed.image;
    if (nic.images[0].file != expected)
        return "modify_imagename took " + printable(nic.images[0].file.value_or("(none)")) + " from " + printable(input);
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with("data"))
            return "the answer file " + entry.path().filename().string() + " was left behind";
    }
    return std::nullopt;
}

} // namespace

// The input is getmlnxinfo's whole output.
check_result check_image_info(std::string_view input)
{
    std::istringstream output{std::string(input)};
    const std::string line = read_answer_line(output, " ");
    const image_answer parsed = parse_image_answer(line);
    const std::string first_line(input.substr(0, input.find('\n')));
    // The server field keeps the line end of a line without blanks; only the image name is trimmed.
    const size_t end = input.find('\n');
    const std::string line_with_end(input.substr(0, end == std::string_view::npos ? end : end + 1));

    if (parsed.no_image != first_line.starts_with('0'))
        return "no image is " + std::string(parsed.no_image ? "" : "not ") + "said by " + printable(first_line);
    if (parsed.no_image && (parsed.image || parsed.server))
        return "an answer of no image still named one in " + printable(first_line);
    for (const opt_text &field : {parsed.server, parsed.image}) {
        if (field && (field->empty() || field->find('#') != std::string::npos ||
                      line_with_end.find(*field) == std::string::npos))
            return "the field " + printable(*field) + " is no \"#\" field of the line " + printable(first_line);
    }
    if (parsed.image) {
        const std::string &image = *parsed.image;
        if (image.find_first_of(" \n") != std::string::npos || std::isspace(static_cast<unsigned char>(image.back())))
            return "the image name " + printable(image) + " holds a blank, a line end or trailing white space";
    }
    return check_resolution(input, parsed);
}
