// The burns of a plan side by side, where no question is asked: a bounded pool of workers, the console in order.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/ordered_console.h"
#include "core/run_state.h"

// Most burns side by side when ROVAN_BURN_JOBS does not say otherwise.
inline constexpr size_t k_default_burn_jobs = 8;

// The most burns side by side from the text of ROVAN_BURN_JOBS: the default when it is unset, nothing when
// it is not a positive whole number.
std::optional<size_t> burn_jobs(const char *text);
// Why a ROVAN_BURN_JOBS text is refused.
std::string burn_jobs_refusal(const std::string &text);

// Whether a run of these options burns side by side: one that asks no question (-s, -y, -u).
bool burns_side_by_side(const options &opts);

// The adapters of one mode, planned one after another in their order and burned side by side: at most
// ctx.burn_jobs tools burn at a time, and at most 32 queries verify them (or check -u's live boards)
// beside; with one job, each adapter's check, burn and verifying query come before the next adapter's. Each record's console text, its plan's included, is one block, in order.
class burn_pool {
public:
    burn_pool(run_context &ctx, size_t records);

    // The context for record i's plan and burn: its console text goes to the record's block.
    run_context context(size_t i);

    // The burn of record i, once planned. check (may be empty) runs first, under a query's turn, and
    // says whether to burn; burn runs under the burn's turn and hands the context it is given to
    // do_update_firmware. Burns whose flash keys meet (one PCI device, one adapter) run one after another.
    struct job {
        size_t record = 0;
        std::vector<std::string> flash_keys {};
        std::function<bool(run_context &)> check {};
        std::function<void(run_context &)> burn {};
    };
    void add(job planned) { jobs_.push_back(std::move(planned)); }
    bool empty() const { return jobs_.empty(); }

    // Runs the burns added, in record order, holding back the run's signals from before the first to after
    // the last: once one is held no further burn starts. Returns that signal, 0 when none came. Every block
    // is out when it returns.
    int run();

private:
    run_context &ctx_;
    size_t records_;
    ordered_console console_;
    std::vector<job> jobs_;
};
