// The flash-tool queries of many functions run side by side, their answers taken in address order.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/flash_tool.h"
#include "core/pci_address.h"
#include "core/run_state.h"
#include "platform/signals.h"

// Most query tools running at once.
inline constexpr size_t k_parallel_queries = 16;

// Queries every address at once on construction: the functions of one PCI device one after
// another, since they share one flash, and different devices side by side. The answers are only handed out; whoever takes them writes the output, in order.
// An adapter shown as two devices shares one flash too, and its tool may refuse one query while
// the other reads it: a query that failed (not by the time limit) while others ran is run once
// more, alone, after all the others, and only that answer counts.
// While the batch lives, interrupt, quit, hang-up and terminate end the running queries (each with its
// process group) instead of the process; the caller ends the run by the signal once the batch is gone.
class query_batch {
public:
    // At most `workers` threads query; with none, answer() queries by itself.
    query_batch(run_context &ctx, std::vector<pci_address> addresses, size_t workers = k_parallel_queries);
    // Ends the queries still running and waits for the workers.
    ~query_batch();
    query_batch(const query_batch &) = delete;
    query_batch &operator=(const query_batch &) = delete;

    // The answer for the i-th address, waiting for it; null once a signal has ended the queries.
    const query_answer *answer(size_t i);
    // The signal that ended the queries, 0 when none came.
    int signal() const { return signals_.held(); }

private:
    // Queries the next device not yet taken; false when none is left.
    bool query_next_device();
    // One query; true when another ran at some moment during it.
    bool query_among_others(size_t i, query_answer &answer);
    // One query, ended early by a signal or by the batch's end.
    query_answer query(size_t i);
    // Once every device is done: the queries to run again, one at a time.
    void query_again_alone();
    void work();

    run_context &ctx_;
    std::vector<pci_address> addresses_;
    std::vector<std::vector<size_t>> devices_; // indexes of addresses_, one list per device
    signal_hold signals_;
    int stop_[2] = {-1, -1}; // a pipe whose write end the destructor closes, ending the running queries

    std::mutex mutex_;
    std::condition_variable answered_;
    std::vector<query_answer> answers_;
    std::vector<bool> ready_;
    size_t next_device_ = 0;
    size_t devices_done_ = 0;
    size_t running_ = 0;          // queries running now
    size_t started_ = 0;          // queries started so far
    std::vector<size_t> again_;   // indexes whose query is run again once the others are done
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};
