// Running a program for real: its streams, its status, and the three ends of a run (the time limit, a held
// signal, the stop descriptor), each of which ends the program's whole process group at once.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/process.h"
#include "platform/signals.h"

namespace {
process_request shell(const std::string &script)
{
    process_request request;
    request.path = "sh"; // found in PATH
    request.argv = {"sh", "-c", script};
    request.out.to = output_sink::kind::capture;
    request.err_to_out = true;
    return request;
}
} // namespace

TEST(Process, CapturesTheMergedStreamsAndTellsHowTheProgramEnded)
{
    struct row {
        process_request request;
        std::string output;
        int exit_code, exec_error = 0;
    };
    process_request missing = shell("");
    missing.path = "/nonexistent/tool";
    for (const row &r : std::vector<row> {{shell("printf 'a\\n' >&2; printf b; exit 3"), "a\nb", 3},
                                          {missing, "", 127, ENOENT}}) {
        const process_result result = run_process(r.request);
        EXPECT_TRUE(result.started && result.exited && !result.timed_out && !result.interrupted);
        EXPECT_EQ(result.output, r.output);
        EXPECT_EQ(result.exit_code, r.exit_code);
        EXPECT_EQ(result.exec_error, r.exec_error);
    }
    // Taken as it comes, a flood of output is never held whole.
    const auto peak_rss_kib = [] { rusage usage {}; getrusage(RUSAGE_SELF, &usage); return usage.ru_maxrss; };
    const long before = peak_rss_kib();
    process_request flood = shell("head -c 100000000 /dev/zero");
    size_t taken = 0;
    flood.take = [&](std::string_view piece) { taken += piece.size(); };
    EXPECT_TRUE(run_process(flood).output.empty());
    EXPECT_EQ(taken, 100000000u);
    EXPECT_LT(peak_rss_kib() - before, 16 * 1024) << "memory grew with the program's output";
}

TEST(Process, TheTimeLimitASignalOrTheStopDescriptorEndsTheWholeGroupAtOnce)
{
    enum class end { time_limit, signal, stop };
    for (const end how : {end::time_limit, end::signal, end::stop}) {
        SCOPED_TRACE(static_cast<int>(how));
        const std::string pid_file = testing::TempDir() + "process-test-child-" + std::to_string(getpid());
        process_request request = shell("sleep 30 & echo $! >" + pid_file + "; wait");
        request.grouping = process_request::group::own;
        request.time_limit_s = how == end::time_limit ? 1 : 20;
        request.ends_on_signal = true;
        int stop[2];
        ASSERT_EQ(pipe2(stop, O_CLOEXEC), 0);
        request.stop_fd = stop[0];
        const signal_hold hold;
        std::thread trigger([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (how == end::signal)
                kill(getpid(), SIGTERM);
            if (how == end::stop)
                close(stop[1]);
        });
        const auto start = std::chrono::steady_clock::now();
        const process_result result = run_process(request);
        const auto took = std::chrono::steady_clock::now() - start;
        trigger.join();
        close(stop[0]);
        if (how != end::stop)
            close(stop[1]);
        EXPECT_EQ(result.timed_out, how == end::time_limit);
        EXPECT_EQ(result.interrupted, how != end::time_limit);
        EXPECT_EQ(hold.held(), how == end::signal ? SIGTERM : 0);
        EXPECT_LT(took, std::chrono::seconds(5));
        std::string pid, stat;
        std::getline(std::ifstream(pid_file), pid);
        std::remove(pid_file.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!pid.empty())
            std::getline(std::ifstream("/proc/" + pid + "/stat"), stat);
        EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << "the program's child outlived it";
    }
}
