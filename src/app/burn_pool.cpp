// Burns side by side: workers take the planned burns in record order, each in its record's console block.
#include "app/burn_pool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include <unistd.h>

#include "core/burn_turns.h"
#include "platform/signals.h"

namespace {
// Most queries at once beside the burns (their verifying queries, -u's checks). Burns that take minutes
// end apart; burns that end together (failing at once, or quick ones) are verified together, twice as many
// at once as the inventory queries.
constexpr size_t k_queries_beside_burns = 32;
} // namespace

std::optional<size_t> burn_jobs(const char *text)
{
    if (!text)
        return k_default_burn_jobs;
    if (*text < '0' || *text > '9')
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const unsigned long long jobs = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || jobs < 1 || jobs > INT_MAX)
        return std::nullopt;
    return static_cast<size_t>(jobs);
}

std::string burn_jobs_refusal(const std::string &text)
{
    return "ROVAN_BURN_JOBS is \"" + text + "\", not a positive whole number of burns at a time; nothing was done";
}

bool burns_side_by_side(const options &opts)
{
    return opts.silent || opts.yes || opts.update;
}

burn_pool::burn_pool(run_context &ctx, size_t records)
    : ctx_(ctx), records_(records), console_(records, isatty(STDERR_FILENO) == 1)
{
}

run_context burn_pool::context(size_t i)
{
    run_context ctx = ctx_;
    ctx.console = &console_.block(i);
    return ctx;
}

int burn_pool::run()
{
    std::vector<bool> burns(records_, false);
    for (const job &planned : jobs_)
        burns[planned.record] = true;
    for (size_t i = 0; i < records_; ++i)
        if (!burns[i])
            console_.close(i); // complete once planned
    if (jobs_.empty())
        return 0;

    // Adapters have a flash each; a flash named twice is burned once after the other.
    std::vector<std::vector<size_t>> waits_for(jobs_.size());
    std::map<std::string, size_t> last_on;
    for (size_t j = 0; j < jobs_.size(); ++j)
        for (const std::string &key : jobs_[j].flash_keys) {
            if (const auto it = last_on.find(key); it != last_on.end())
                waits_for[j].push_back(it->second);
            last_on[key] = j;
        }

    const signal_hold hold;
    burn_turns turns(ctx_.burn_jobs, k_queries_beside_burns);
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<bool> done(jobs_.size(), false);
    std::atomic<size_t> next {0};
    const auto work = [&] {
        // Taken in record order; an earlier job on the same flash was taken before, so it ends.
        for (size_t j; (j = next++) < jobs_.size();) {
            const job &planned = jobs_[j];
            {
                std::unique_lock<std::mutex> lock(mutex);
                finished.wait(lock, [&] { return std::ranges::all_of(waits_for[j], [&](size_t k) { return done[k]; }); });
            }
            run_context ctx = context(planned.record);
            bool go = held_signal() == 0;
            if (go && planned.check) {
                const query_turn turn(&turns);
                go = planned.check(ctx);
            }
            burn_turn turn(turns);
            if (go && turn.take()) {
                ctx.turns = &turn;
                planned.burn(ctx);
            }
            turn.give();
            console_.close(planned.record);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                done[j] = true;
            }
            finished.notify_all();
        }
    };
    // One job: one adapter after another. More: the burns' verifying queries do not hold up the next burns.
    const size_t threads = ctx_.burn_jobs == 1 ? 1 : std::min(jobs_.size(), ctx_.burn_jobs + k_queries_beside_burns);
    std::vector<std::thread> workers;
    try {
        for (size_t t = 1; t < threads; ++t)
            workers.emplace_back(work);
    } catch (const std::system_error &) {
        // Fewer workers than asked for still do every job; this thread is one of them.
    }
    work();
    for (std::thread &worker : workers)
        worker.join();
    return hold.held();
}
