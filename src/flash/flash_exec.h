// Burning a port's image with the flash tool and judging the outcome.
#pragma once

#include <string>

#include "core/records.h"
#include "core/run_state.h"

enum class burn_result { not_burned, flashed, failed };

// Which of the port's images to burn: the newest (upgrade run) or the one the
// report-driven update put first.
enum class image_choice { newest, first };

// Burns the chosen image into a port whose flash-request bit is set; sets the
// run's flashed or failed outcome and logs it.
burn_result do_update_firmware(run_context &ctx, nic_info &nic, image_choice choice);

// A MAC text without its separators.
std::string format_mac(const std::string &pStrTok);
