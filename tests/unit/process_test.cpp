// Running a program for real: its merged streams and status, output taken as it comes, and the three ends of
// a run (the time limit, a held signal, the stop descriptor), each ending the program's whole group at once.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/process.h"
#include "platform/signals.h"

namespace {
process_request shell(const std::string &script, const std::string &path = "sh") // "sh" is found in PATH
{
    return {.path = path, .argv = {"sh", "-c", script}, .out = {.to = output_sink::kind::capture}, .err_to_out = true};
}
} // namespace

TEST(Process, CapturesTheMergedStreamsTakesAFloodAsItComesAndTellsHowTheProgramEnded)
{
    const process_result ran = run_process(shell("printf 'a\\n' >&2; printf b; exit 3"));
    EXPECT_EQ(std::tuple(ran.started, ran.exited, ran.exit_code, ran.output), std::tuple(true, true, 3, "a\nb"));
    const process_result missing = run_process(shell("", "/nonexistent/tool"));
    EXPECT_EQ(std::tuple(missing.exec_error, missing.exit_code), std::tuple(ENOENT, 127));

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
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        trigger.join();
        close(stop[0]);
        if (how != end::stop)
            close(stop[1]);
        EXPECT_EQ(std::tuple(result.timed_out, result.interrupted, hold.held()),
                  std::tuple(how == end::time_limit, how != end::time_limit, how == end::signal ? SIGTERM : 0));
        std::string pid, stat;
        std::getline(std::ifstream(pid_file), pid);
        std::remove(pid_file.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::getline(std::ifstream("/proc/" + pid + "/stat"), stat);
        EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << "the program's child outlived it";
    }
}
