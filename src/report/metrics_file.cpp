// Writing the metrics file for node_exporter's textfile collector.
#include "report/metrics_file.h"

#include <nlohmann/json.hpp>

#include "platform/atomic_file.h"

namespace {

// A label value: valid UTF-8 (the bytes that are not become U+FFFD), with \, " and line ends escaped.
std::string label_value(const std::string &text)
{
    using json = nlohmann::json;
    const std::string utf8 = json::parse(json(text).dump(-1, ' ', false, json::error_handler_t::replace)).get<std::string>();
    std::string escaped;
    for (const char c : utf8)
        escaped += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : std::string(1, c);
    return escaped;
}

using labels = std::vector<std::pair<const char *, std::string>>;

std::string sample(const char *name, const labels &l, long long value)
{
    std::string line = name;
    for (size_t i = 0; i < l.size(); ++i)
        line += (i == 0 ? "{" : ",") + std::string(l[i].first) + "=\"" + label_value(l[i].second) + "\"";
    return line + (l.empty() ? " " : "} ") + std::to_string(value) + "\n";
}

std::string family(const char *name, const char *help)
{
    return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

} // namespace

std::string metrics_text(const metrics_input &in, const burn_ends_seen &burns)
{
    std::string text = family("rovan_adapter_info", "A Mellanox adapter function with its board ID and installed firmware.");
    for (const metrics_adapter &a : in.adapters)
        text += sample("rovan_adapter_info", {{"address", a.address}, {"psid", a.psid}, {"installed", a.installed}}, 1);
    text += family("rovan_adapter_update_available",
                   "Whether the update package offers a newer firmware than the installed one (1) or not (0).");
    for (const metrics_adapter &a : in.adapters)
        text += sample("rovan_adapter_update_available",
                       {{"address", a.address}, {"psid", a.psid}, {"installed", a.installed}, {"newest", a.newest}},
                       a.update_available ? 1 : 0);
    text += family("rovan_adapters", "Mellanox adapter functions whose query gave a version and PSID, or did not.");
    text += sample("rovan_adapters", {{"state", "queried"}}, in.queried);
    text += sample("rovan_adapters", {{"state", "unqueried"}}, in.unqueried);
    if (burns.read) {
        text += family("rovan_burn_last_timestamp_seconds",
                       "When the latest burn of the adapter ended, with its outcome, from the burn history.");
        for (const auto &[address, end] : burns.last_by_address)
            text += sample("rovan_burn_last_timestamp_seconds", {{"address", address}, {"outcome", end.outcome}},
                           static_cast<long long>(end.time));
    }
    if (burns.read && in.boot_time) {
        text += family("rovan_reboot_required", "Whether a verified burn ended after the system booted.");
        text += sample("rovan_reboot_required", {},
                       burns.newest_success && *burns.newest_success > *in.boot_time ? 1 : 0);
    }
    text += family("rovan_run_timestamp_seconds", "When the run that wrote this file wrote it.");
    text += sample("rovan_run_timestamp_seconds", {}, static_cast<long long>(in.run_time));
    text += family("rovan_run_status", "The exit status of the run that wrote this file.");
    return text + sample("rovan_run_status", {}, in.run_status);
}

std::optional<std::string> write_metrics_file(const std::string &path, const metrics_input &input,
                                              const burn_history &history)
{
    return replace_file_atomically(path, metrics_text(input, history.ends()), 0644);
}
