// The steps the inventory modes share: their end when the inventory is cut short, the plan the
// inventory alone gives, and the adapters as the result document shows them.
#pragma once

#include <optional>
#include <string>

#include "app/mode_end.h"
#include "core/pipeline.h"
#include "core/run_state.h"
#include "discovery/inventory.h"

// The end of a mode whose inventory was cut short (a sysfs ID file, the catalog, a signal); none otherwise.
std::optional<mode_end> inventory_cut_short(const inventory &inv);

// What the inventory alone says of each port: second-device, unqueried, no-image, else not-asked.
run_plan inventory_plan(const inventory &inv);

// Builds the inventory and names on standard error each Mellanox function it could not read, and why.
inventory take_inventory(run_context &ctx);

// The end's adapters (the listed Mellanox functions), the functions not read, and whether a burn
// succeeded, from the inventory, the plan and the burns; then, when asked for and the inventory was
// whole, the metrics file, with the versions the burns left.
void finish_inventory_mode(const run_context &ctx, const inventory &inv, const run_plan &plan,
                           const burn_results &burns, mode_end &end);
