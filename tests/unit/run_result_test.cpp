// The result document of representative runs against its JSON Schema, and a broken one the schema refuses.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/run_result.h"
#include "output_checks.h"

namespace {

using json = nlohmann::json;

result_adapter adapter(const std::string &address, adapter_decision decision)
{
    return {address, "MT_0000000080", "b8cef6000000", "16.32.1010", {"16.35.2000", "16.32.1010"}, "16.35.2000",
            decision, std::nullopt};
}

TEST(RunResult, DocumentsOfEachKindOfRunValidate)
{
    std::vector<std::string> output;
    for (int i = 1; i <= 25; ++i)
        output.push_back("line " + std::to_string(i));
    run_result failed {.mode = result_mode::upgrade, .started = 1796680793, .ended = 1796680870, .status = 2,
                       .result = result_word::failed, .reason = "a burn failed"};
    failed.adapters = {adapter("0000:05:00.0", adapter_decision::burn), adapter("0000:05:00.1",
                       adapter_decision::second_device), adapter("0000:06:00.0", adapter_decision::burn)};
    failed.adapters[0].burn = result_burn {"./nic_fw/fw.bin", "16.32.1010", "16.35.2000", burn_verdict::failed, 3,
                                           output, 77.012};
    failed.adapters[2].burn = result_burn {"./nic_fw/fw.bin", "16.32.1010", "16.35.2000",
                                           burn_verdict::not_verified, 0, {}, 1.5};
    run_result unqueried {.mode = result_mode::discover, .status = 2, .result = result_word::failed,
                          .reason = "no adapter could be queried", .report = "nicdiscovery.xml"};
    unqueried.adapters = {{"0000:05:00.0", {}, {}, {}, {}, {}, adapter_decision::unqueried, {}}};
    unqueried.unqueried = {{"0000:05:00.0", unqueried_cause::timeout}, {"0000:07:00.0", unqueried_cause::status, 3}};
    const run_result refused {.status = 1, .result = result_word::usage,
                              .reason = "-c and -d cannot be combined; rovan --help shows the usage"};
    for (const run_result &r : {failed, unqueried, refused}) {
        const std::string document = run_result_json(r);
        EXPECT_EQ(checks::result_schema_errors(document), "") << document;
    }

    const json doc = json::parse(run_result_json(failed));
    EXPECT_EQ(doc["adapters"][0]["burn"]["tool_output"].front(), "line 6") << "the last 20 lines are kept";
    EXPECT_EQ(json::parse(run_result_json(unqueried))["unqueried"][1]["reason"], "status 3");

    json broken = doc; // a burn on an adapter the run did not decide to burn
    broken["adapters"][2]["decision"] = "skip-current";
    EXPECT_NE(checks::result_schema_errors(broken.dump()), "");
}

} // namespace
