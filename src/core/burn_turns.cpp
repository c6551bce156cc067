// Turns of burns side by side: counted under one lock.
#include "core/burn_turns.h"

#include "platform/signals.h"

void burn_turns::take(kind k)
{
    std::unique_lock<std::mutex> lock(mutex_);
    freed_.wait(lock, [&] { return free_[k] > 0; });
    --free_[k];
}

void burn_turns::give(kind k)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++free_[k];
    }
    freed_.notify_all();
}

bool burn_turn::take()
{
    turns_.take(burn_turns::burn);
    held_ = true;
    if (held_signal() == 0)
        return true;
    give();
    return false;
}

void burn_turn::give()
{
    if (held_)
        turns_.give(burn_turns::burn);
    held_ = false;
}
