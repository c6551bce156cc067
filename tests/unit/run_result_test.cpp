// A burn's tool output cut to its last lines, and a document the schema refuses. (Documents of whole runs against
// the schema: Control.EveryRunEndsWithItsResultDocument.)
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

TEST(RunResult, KeepsTheLastToolLinesAndTheSchemaRefusesABrokenDocument)
{
    std::vector<std::string> output;
    for (int i = 1; i <= 25; ++i)
        output.push_back("line " + std::to_string(i));
    run_result failed {.mode = result_mode::upgrade, .started = 1796680793, .ended = 1796680870, .status = 2,
                       .result = result_word::failed, .reason = "a burn failed"};
    failed.adapters = {adapter("0000:05:00.0", adapter_decision::burn),
                       adapter("0000:05:00.1", adapter_decision::second_device)};
    failed.adapters[0].burn = result_burn {"./nic_fw/fw.bin", "16.32.1010", "16.35.2000", burn_verdict::failed, 3,
                                           output, 77.012};
    const std::string document = run_result_json(failed);
    EXPECT_EQ(checks::result_schema_errors(document), "") << document;
    const json doc = json::parse(document);
    EXPECT_EQ(doc["adapters"][0]["burn"]["tool_output"].front(), "line 6") << "the last 20 lines are kept";

    json broken = doc; // a burn on an adapter the run did not decide to burn
    broken["adapters"][0]["decision"] = "skip-current";
    EXPECT_NE(checks::result_schema_errors(broken.dump()), "");
}

} // namespace
