// Resolving a code-named image through the package's getmlnxinfo.
#pragma once

#include <istream>
#include <optional>
#include <string>

#include "core/records.h"
#include "core/run_state.h"
#include "platform/process.h"

// How a resolution through getmlnxinfo ended.
struct image_resolution {
    std::optional<std::string> failure {}; // why no name was taken from the answer; none when one was
    int signal = 0;                        // a signal held back meanwhile: the run ends by it
};

// Resolves the port's first image name through ./getmlnxinfo: the name its answer gives replaces
// the first image's (absent when the answer names none).
image_resolution modify_imagename(run_context &ctx, nic_info &curnic, std::string *servername);

// Runs cmd (whose output goes to dataFile) and reads the first line of
// dataFile into data, cut at the first delimiter after a token; why it could not, when it could not.
std::optional<std::string> get_mlnx_info(run_context &ctx, const process_request &cmd, std::string &data,
                                         const std::string &dataFile, const char *delimiter);

// The first line of a command's output file as get_mlnx_info keeps it: its
// line end kept when one follows, cut at the first delimiter after a token.
std::string read_answer_line(std::istream &in, const char *delimiter);

// What getmlnxinfo's answer line says: no image (it begins with "0"), or the
// server and the image named by its first two "#" fields; an image name of
// white space alone names nothing.
struct image_answer {
    bool no_image = false;
    opt_text server;
    opt_text image;
};
image_answer parse_image_answer(const std::string &datastring);
