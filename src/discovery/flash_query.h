// The flash tool's query of one device and the labelled values in its output.
#pragma once

#include <optional>
#include <string>

#include "core/records.h"
#include "core/run_state.h"

// The value that one line of the flash tool's query output gives for a
// label: nothing when the line does not carry the label (letters compared
// without regard to case, anywhere in the line). The value starts past the
// label's length plus its one separator character, counted from the start of
// the line, after any blanks, and ends at the next blank or the line end.
// *had_text tells whether the line held anything but spaces past that position
// (its line end counts).
std::optional<std::string> cut_labelled_value(const std::string &line, const std::string &label, bool *had_text);

// The query command for one device, by the Secure Boot outcome.
std::string flash_query_command(const run_context &ctx, const std::string &address);

// Asks the flash tool for one labelled value of a device; the first output
// line that carries the label wins. Stores the value through ppfw (left as it
// was when no line carries the label); 0 when the line held a value, else 1.
int get_firmware_info(run_context &ctx, const std::string &pif, opt_text *ppfw, const std::string &fw_match_pattern);
