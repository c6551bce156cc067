// What a run did, as a value, and the JSON document --json writes of it (docs/result-json.md).
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

// The version of the document's layout; it changes only when a reader would have to change.
inline constexpr int k_result_schema = 1;
// The burn's output keeps only its last lines.
inline constexpr size_t k_tool_output_lines = 20;

// The program's version, as the build names it.
const char *program_version();

// The mode that ran; none when the command line chose no mode.
enum class result_mode { upgrade, show_current, discover, update };
// The run's outcome in one word.
enum class result_word { ok, nothing_to_do, usage, busy, fatal, quit, failed };
// What the run decided for one adapter.
enum class adapter_decision { burn, skip_current, skip_declined, no_image, not_asked, second_device, unqueried };
// How a burn of this run ended.
enum class burn_verdict { success, failed, not_verified, interrupted };
// Why a query gave no version or PSID.
enum class unqueried_cause { timeout, tool_missing, no_answer, status };

struct result_burn {
    std::string image {}, from {}, to {};
    burn_verdict outcome = burn_verdict::failed;
    std::optional<int> tool_status {}; // none when a signal ended the tool or it never started
    std::vector<std::string> tool_output {}; // its lines; the document keeps the last k_tool_output_lines
    std::optional<double> seconds {}; // the tool's wall time; none when unknown
};

struct result_adapter {
    std::string address {};
    std::optional<std::string> psid {}, mac {}, installed {}; // none when the query did not give them
    std::vector<std::string> available {};           // the catalog's versions for the board
    std::optional<std::string> newest {};            // none when the catalog offers nothing
    adapter_decision decision = adapter_decision::not_asked;
    std::optional<result_burn> burn {};              // only where a burn ran
};

struct result_unqueried {
    std::string address {};
    unqueried_cause cause = unqueried_cause::no_answer;
    int status = 0; // the tool's exit status, for unqueried_cause::status
};

struct run_result {
    std::optional<result_mode> mode {};
    std::time_t started = 0, ended = 0;
    int status = 0; // the exit status
    result_word result = result_word::ok;
    std::optional<std::string> reason {}; // why the run failed, where it did
    std::vector<result_adapter> adapters {};
    std::vector<result_unqueried> unqueried {};
    bool reboot_required = false;      // a burn of this run succeeded
    std::optional<std::string> report {}; // the report's path, for -d and -u
};

// The words the document uses.
const char *result_text(result_mode mode);
const char *result_text(result_word word);
const char *result_text(adapter_decision decision);
const char *result_text(burn_verdict outcome);
// "timeout", "tool-missing", "no-answer" or "status N".
std::string result_text(const result_unqueried &unqueried);

// The time in UTC, ISO 8601: "2026-12-07T21:59:53Z".
std::string utc_time_text(std::time_t when);

// The whole document, one line ending in a newline. Every key is always written; what does not apply
// to the run is null. Texts that are not UTF-8 carry U+FFFD in place of the bytes that are not.
std::string run_result_json(const run_result &result);
