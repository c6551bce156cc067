// The run's result as one JSON document.
#include "core/run_result.h"

#include <nlohmann/json.hpp>

#ifndef ROVAN_VERSION
#error "the build defines ROVAN_VERSION from the project's version"
#endif

namespace {

using json = nlohmann::ordered_json;

json text_or_null(const std::optional<std::string> &text)
{
    return text ? json(*text) : json(nullptr);
}

json burn_json(const result_burn &burn)
{
    const size_t keep = std::min(burn.tool_output.size(), k_tool_output_lines);
    return json {{"image", burn.image},
                 {"from", burn.from},
                 {"to", burn.to},
                 {"outcome", result_text(burn.outcome)},
                 {"tool_status", burn.tool_status ? json(*burn.tool_status) : json(nullptr)},
                 {"tool_output", std::vector<std::string>(burn.tool_output.end() - static_cast<long>(keep),
                                                          burn.tool_output.end())},
                 {"seconds", burn.seconds ? json(*burn.seconds) : json(nullptr)}};
}

json adapter_json(const result_adapter &adapter)
{
    return json {{"address", adapter.address},
                 {"psid", text_or_null(adapter.psid)},
                 {"mac", text_or_null(adapter.mac)},
                 {"installed", text_or_null(adapter.installed)},
                 {"available", adapter.available},
                 {"newest", text_or_null(adapter.newest)},
                 {"decision", result_text(adapter.decision)},
                 {"burn", adapter.burn ? burn_json(*adapter.burn) : json(nullptr)}};
}

} // namespace

const char *program_version()
{
    return ROVAN_VERSION;
}

const char *result_text(result_mode mode)
{
    switch (mode) {
    case result_mode::upgrade: return "upgrade";
    case result_mode::show_current: return "show-current";
    case result_mode::discover: return "discover";
    case result_mode::update: return "update";
    }
    return "upgrade";
}

const char *result_text(result_word word)
{
    switch (word) {
    case result_word::ok: return "ok";
    case result_word::nothing_to_do: return "nothing-to-do";
    case result_word::usage: return "usage";
    case result_word::busy: return "busy";
    case result_word::fatal: return "fatal";
    case result_word::quit: return "quit";
    case result_word::failed: return "failed";
    }
    return "failed";
}

const char *result_text(adapter_decision decision)
{
    switch (decision) {
    case adapter_decision::burn: return "burn";
    case adapter_decision::skip_current: return "skip-current";
    case adapter_decision::skip_declined: return "skip-declined";
    case adapter_decision::no_image: return "no-image";
    case adapter_decision::not_asked: return "not-asked";
    case adapter_decision::second_device: return "second-device";
    case adapter_decision::unqueried: return "unqueried";
    }
    return "not-asked";
}

const char *result_text(burn_verdict outcome)
{
    switch (outcome) {
    case burn_verdict::success: return "success";
    case burn_verdict::failed: return "failed";
    case burn_verdict::not_verified: return "not-verified";
    case burn_verdict::interrupted: return "interrupted";
    }
    return "failed";
}

std::string result_text(const result_unqueried &unqueried)
{
    switch (unqueried.cause) {
    case unqueried_cause::timeout: return "timeout";
    case unqueried_cause::tool_missing: return "tool-missing";
    case unqueried_cause::no_answer: return "no-answer";
    case unqueried_cause::status: break;
    }
    return "status " + std::to_string(unqueried.status);
}

std::string utc_time_text(std::time_t when)
{
    std::tm utc {};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string run_result_json(const run_result &result)
{
    json adapters = json::array(), unqueried = json::array();
    for (const result_adapter &adapter : result.adapters)
        adapters.push_back(adapter_json(adapter));
    for (const result_unqueried &u : result.unqueried)
        unqueried.push_back(json {{"address", u.address}, {"reason", result_text(u)}});
    const json document = {{"schema", k_result_schema},
                           {"version", program_version()},
                           {"mode", result.mode ? json(result_text(*result.mode)) : json(nullptr)},
                           {"started", utc_time_text(result.started)},
                           {"ended", utc_time_text(result.ended)},
                           {"status", result.status},
                           {"result", result_text(result.result)},
                           {"reason", text_or_null(result.reason)},
                           {"adapters", adapters},
                           {"unqueried", unqueried},
                           {"reboot_required", result.reboot_required},
                           {"report", text_or_null(result.report)}};
    // The tool's output and a report's texts are not always UTF-8; the document must be written all the same.
    return document.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}
