// Running the flash tool's query once and picking the labelled lines and values from its output.
#include "core/flash_tool.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/signals.h"
#include "platform/text.h"
#include "platform/tools.h"

namespace {

// The part of a line kept for its labels; values are far shorter.
constexpr size_t k_line_keep = 4096;

// Keeps, for each label, the first line that carries it, without ever holding more of a line
// than k_line_keep bytes: past that, the line is only searched, through a window that a label
// cannot straddle unseen.
class line_picker {
public:
    explicit line_picker(const std::vector<std::string> &labels)
        : labels_(labels), picked_(labels.size()), found_in_rest_(labels.size(), false)
    {
        for (const std::string &label : labels) {
            window_ = std::max(window_, label.size());
            lower_labels_.push_back(lower(label));
        }
    }

    void feed(const char *data, size_t size)
    {
        while (size > 0 && !all_picked()) {
            const char *end = static_cast<const char *>(std::memchr(data, '\n', size));
            const size_t piece = end ? static_cast<size_t>(end - data) : size;
            add(data, piece);
            if (end) {
                end_line(true);
                ++end;
            }
            size -= end ? piece + 1 : piece;
            data = end ? end : data + piece;
        }
    }

    // The output has ended: a last line without its line end counts too.
    std::vector<std::optional<std::string>> finish()
    {
        if (!kept_.empty() || in_rest_)
            end_line(false);
        return std::move(picked_);
    }

    bool all_picked() const
    {
        return std::all_of(picked_.begin(), picked_.end(), [](const auto &line) { return line.has_value(); });
    }

private:
    void add(const char *data, size_t size)
    {
        const size_t room = k_line_keep - std::min(k_line_keep, kept_.size());
        kept_.append(data, std::min(room, size));
        if (size <= room)
            return;
        if (!in_rest_) {
            in_rest_ = true;
            tail_ = kept_.substr(kept_.size() - std::min(kept_.size(), window_ - 1));
        }
        // Folded once, then searched with find: a flood of output must not cost a comparison per letter and label.
        searched_ = tail_;
        searched_.append(data + room, size - room);
        for (char &c : searched_)
            c = fold_[static_cast<unsigned char>(c)];
        for (size_t i = 0; i < labels_.size(); ++i)
            found_in_rest_[i] = found_in_rest_[i] || searched_.find(lower_labels_[i]) != std::string::npos;
        tail_.assign(searched_, searched_.size() - std::min(searched_.size(), window_ - 1));
    }

    std::string lower(std::string text) const
    {
        for (char &c : text)
            c = fold_[static_cast<unsigned char>(c)];
        return text;
    }

    // Each byte's lower-case letter, as contains_nocase compares them.
    static std::array<char, 256> make_fold()
    {
        std::array<char, 256> fold {};
        for (size_t c = 0; c < fold.size(); ++c)
            fold[c] = static_cast<char>(std::tolower(static_cast<int>(c)));
        return fold;
    }
    const std::array<char, 256> fold_ = make_fold();

    void end_line(bool line_end)
    {
        for (size_t i = 0; i < labels_.size(); ++i) {
            if (!picked_[i] && (found_in_rest_[i] || contains_nocase(kept_, labels_[i])))
                picked_[i] = kept_ + (line_end ? "\n" : "");
        }
        kept_.clear();
        tail_.clear();
        in_rest_ = false;
        std::fill(found_in_rest_.begin(), found_in_rest_.end(), false);
    }

    const std::vector<std::string> &labels_;
    std::vector<std::string> lower_labels_;
    std::string searched_;
    std::vector<std::optional<std::string>> picked_;
    std::vector<bool> found_in_rest_;
    size_t window_ = 1;
    std::string kept_;
    std::string tail_;
    bool in_rest_ = false;
};

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool is_line_end(char c)
{
    return c == '\n' || c == '\r';
}
} // namespace

std::optional<std::string> cut_labelled_value(const std::string &line, const std::string &label, bool *had_text)
{
    *had_text = false;
    if (!contains_nocase(line, label))
        return std::nullopt;
    size_t pos = label.size() + 1;
    if (pos >= line.size())
        return std::string();
    // Blanks alone count as no text; a line end counts.
    *had_text = line.find_first_not_of(' ', pos) != std::string::npos;
    while (pos < line.size() && is_blank(line[pos]))
        ++pos;
    size_t end = pos;
    while (end < line.size() && !is_blank(line[end]) && !is_line_end(line[end]))
        ++end;
    return line.substr(pos, end - pos);
}

std::vector<std::optional<std::string>> pick_labelled_lines(const std::string &output,
                                                            const std::vector<std::string> &labels, size_t chunk)
{
    line_picker picker(labels);
    chunk = std::max<size_t>(chunk, 1);
    for (size_t at = 0; at < output.size() && !picker.all_picked(); at += chunk)
        picker.feed(output.data() + at, std::min(chunk, output.size() - at));
    return picker.finish();
}

query_answer query_flash_device(run_context &ctx, const std::string &address, query_ending ending)
{
    static const std::vector<std::string> labels = {"FW Version", "PSID", "Base MAC"};
    const flash_tool_command cmd = flash_query_arguments(ctx, address);
    line_picker picker(labels);
    process_request request;
    request.path = cmd.path;
    request.argv = cmd.argv;
    request.out.to = output_sink::kind::capture;
    request.err_to_out = true;
    // Once every label has its line, the rest is only drained.
    request.take = [&picker](std::string_view piece) {
        if (!picker.all_picked())
            picker.feed(piece.data(), piece.size());
    };
    request.grouping = process_request::group::own;
    request.time_limit_s = ctx.query_time_limit_s;
    request.ends_on_signal = ending.by_signal;
    request.stop_fd = ending.stop_fd;
    const process_result run = ctx.tools.run(request);

    query_answer answer;
    // A program that cannot be run still counts as started, as the shell's "not found" did.
    answer.started = run.started;
    answer.timed_out = run.timed_out;
    answer.interrupted = run.interrupted;
    answer.not_run = run.exec_error != 0;
    answer.exit_failed = answer.not_run || !run.exited || run.exit_code != 0;
    if (run.started && !answer.not_run)
        answer.exit_status = run.exited ? run.exit_code : 128 + run.term_signal;
    if (answer.timed_out || answer.interrupted)
        return answer;
    const std::vector<std::optional<std::string>> lines = picker.finish();
    query_field *const fields[] = {&answer.fw_version, &answer.psid, &answer.base_mac};
    for (size_t i = 0; i < labels.size(); ++i) {
        if (!lines[i])
            continue;
        bool had_text = false;
        fields[i]->value = cut_labelled_value(*lines[i], labels[i], &had_text);
        fields[i]->rc = fields[i]->value && had_text ? 0 : 1;
    }
    return answer;
}

result_unqueried unqueried_of(const std::string &address, const query_answer &answer)
{
    result_unqueried why {.address = address};
    if (answer.timed_out)
        why.cause = unqueried_cause::timeout;
    else if (!answer.started || answer.not_run || answer.exit_status == 127)
        why.cause = unqueried_cause::tool_missing;
    else if (answer.exit_status.value_or(0) != 0)
        why = {address, unqueried_cause::status, *answer.exit_status};
    return why;
}

near_burn_answer query_device_near_burn(run_context &ctx, const std::string &address)
{
    const signal_hold hold;
    near_burn_answer near {.answer = query_flash_device(ctx, address, {.by_signal = true})};
    near.signal = hold.held();
    return near;
}

int query_time_limit(const char *text)
{
    if (!text || *text < '0' || *text > '9')
        return k_default_query_time_limit_s;
    errno = 0;
    char *end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || seconds < 1 || seconds > INT_MAX)
        return k_default_query_time_limit_s;
    return static_cast<int>(seconds);
}
