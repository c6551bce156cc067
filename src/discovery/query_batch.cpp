// Worker threads that query one device each at a time, and the ordered hand-out of their answers.
#include "discovery/query_batch.h"

#include <algorithm>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace {
// No answer, a status other than 0 or a label without its value; a query the time limit or a
// signal ended would only end so again.
bool failed(const query_answer &answer)
{
    if (answer.timed_out || answer.interrupted)
        return false;
    return !answer.started || answer.exit_failed || answer.fw_version.rc != 0 || answer.psid.rc != 0 ||
           answer.base_mac.rc != 0;
}
} // namespace

query_batch::query_batch(run_context &ctx, std::vector<pci_address> addresses, size_t workers)
    : ctx_(ctx), addresses_(std::move(addresses)), answers_(addresses_.size()), ready_(addresses_.size(), false)
{
    if (pipe2(stop_, O_CLOEXEC) != 0)
        stop_[0] = stop_[1] = -1;
    for (size_t i = 0; i < addresses_.size(); ++i) {
        if (i == 0 || addresses_[i].device() != addresses_[i - 1].device())
            devices_.emplace_back();
        devices_.back().push_back(i);
    }
    const size_t wanted = std::min(workers, devices_.size());
    try {
        while (workers_.size() < wanted)
            workers_.emplace_back(&query_batch::work, this);
    } catch (const std::system_error &) {
        // Fewer workers only make the queries slower; with none, answer() queries by itself.
    }
}

query_batch::~query_batch()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    if (stop_[1] >= 0)
        close(stop_[1]);
    for (std::thread &worker : workers_)
        worker.join();
    if (stop_[0] >= 0)
        close(stop_[0]);
}

bool query_batch::query_next_device()
{
    size_t device = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || next_device_ == devices_.size())
            return false;
        device = next_device_++;
    }
    bool complete = true;
    for (size_t i : devices_[device]) {
        query_answer answer;
        const bool among_others = query_among_others(i, answer);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (among_others && failed(answer)) {
                again_.push_back(i);
            } else {
                answers_[i] = std::move(answer);
                ready_[i] = true;
            }
            complete = !stopping_;
        }
        answered_.notify_all();
        if (!complete || signal() != 0)
            break;
    }
    bool last = false;
    if (complete && signal() == 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        last = ++devices_done_ == devices_.size();
    }
    if (last)
        query_again_alone();
    answered_.notify_all();
    return signal() == 0;
}

bool query_batch::query_among_others(size_t i, query_answer &answer)
{
    size_t started = 0;
    bool others = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        others = running_ > 0;
        ++running_;
        started = ++started_;
    }
    answer = query(i);
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    return others || started_ != started;
}

void query_batch::query_again_alone()
{
    std::vector<size_t> again;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::sort(again_.begin(), again_.end());
        again.swap(again_);
    }
    for (size_t i : again) {
        query_answer answer = query(i);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            answers_[i] = std::move(answer);
            ready_[i] = true;
            if (stopping_)
                return;
        }
        answered_.notify_all();
        if (signal() != 0)
            return;
    }
}

query_answer query_batch::query(size_t i)
{
    return query_flash_device(ctx_, addresses_[i].text(), {.by_signal = true, .stop_fd = stop_[0]});
}

void query_batch::work()
{
    while (query_next_device()) {
    }
}

const query_answer *query_batch::answer(size_t i)
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!ready_[i] && signal() == 0) {
        if (workers_.empty()) {
            lock.unlock();
            query_next_device();
            lock.lock();
            continue;
        }
        // A signal ends the running queries, whose workers then say so.
        answered_.wait(lock);
    }
    if (signal() != 0)
        return nullptr;
    return &answers_[i];
}
