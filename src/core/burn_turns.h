// The turns that burns side by side take: how many burn at once, how many queries run beside them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

// Shared by the threads of burns side by side. A burn holds a burn's turn from before its start record
// until its tool has ended; its verifying query (and -u's check of the live board) holds a query's turn.
class burn_turns {
public:
    burn_turns(size_t burns, size_t queries) : free_ {burns, queries} {}

    enum kind : size_t { burn = 0, query = 1 };
    void take(kind k);
    void give(kind k);

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    size_t free_[2];
};

// One burn's turn: taken before its start record, given back once its tool has ended (or when it goes).
class burn_turn {
public:
    explicit burn_turn(burn_turns &turns) : turns_(turns) {}
    ~burn_turn() { give(); }
    burn_turn(const burn_turn &) = delete;
    burn_turn &operator=(const burn_turn &) = delete;

    // Waits for the turn. False, with none taken, once a signal is held: no burn starts after one.
    bool take();
    // Gives the turn back; once given, nothing more.
    void give();
    burn_turns &shared() { return turns_; }

private:
    burn_turns &turns_;
    bool held_ = false;
};

// A query's turn while it lives, when there are turns to take.
class query_turn {
public:
    explicit query_turn(burn_turns *turns) : turns_(turns)
    {
        if (turns_)
            turns_->take(burn_turns::query);
    }
    explicit query_turn(burn_turn *turn) : query_turn(turn ? &turn->shared() : nullptr) {}
    ~query_turn()
    {
        if (turns_)
            turns_->give(burn_turns::query);
    }
    query_turn(const query_turn &) = delete;
    query_turn &operator=(const query_turn &) = delete;

private:
    burn_turns *turns_;
};
