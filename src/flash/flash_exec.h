// Burning an image into an adapter with the flash tool and judging the outcome.
#pragma once

#include <string>

#include "core/event_log.h"
#include "core/pipeline.h"
#include "core/records.h"
#include "core/run_state.h"

// Which run burns: the upgrade run logs the image it selected and the MAC without its separators;
// the report-driven update burns the report's device as the report gives it.
enum class burn_source { upgrade_run, report };

// Burns one image into one adapter: the tool's run between its two history records, verified by a
// query, the outcome logged, all under one signal hold whose signal the result carries. Touches
// nothing shared but the log and the burn history.
burn_result do_update_firmware(run_context &ctx, const nic_info &nic, const catalog_image &image, burn_source source);

// The entry that a run logs once, before its first burn.
void log_waiting_notice(event_log &log);

// A MAC text without its separators.
std::string format_mac(const std::string &pStrTok);
