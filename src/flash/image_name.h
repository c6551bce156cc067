// Resolving a code-named image through the package's getmlnxinfo.
#pragma once

#include <istream>
#include <string>

#include "core/records.h"
#include "core/run_state.h"
#include "platform/process.h"

// Resolves the port's first image name through ./getmlnxinfo: 0 resolved,
// 1 no image, 2 answer unreadable, else the command's exit status. A signal
// that came meanwhile is left in ctx.outcome.deferred_signal.
int modify_imagename(run_context &ctx, nic_info &curnic, std::string *servername);

// Runs cmd (whose output goes to dataFile) and reads the first line of
// dataFile into data, cut at the first delimiter after a token.
int get_mlnx_info(run_context &ctx, const process_request &cmd, std::string &data, const std::string &dataFile,
                  const char *delimiter);

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
