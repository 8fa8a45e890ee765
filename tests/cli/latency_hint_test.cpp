// SPDX-License-Identifier: MIT
// The converter's latency timer on the command line: what a timer costs an update, the hint
// line, what --set-latency-timer says and returns for each outcome of the registry write
// (the refusal without administrator rights among them: Wine runs every program with them,
// so only here can that outcome be shown), its option and the report's member.
#include "cli/cli_options.h"
#include "cli/cli_texts.h"
#include "cli/latency_hint.h"
#include "cli/unit_events.h"
#include "update/result_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Each exchange of a block (28.09 ms) restarts the timer; the acknowledgement then waits for
// the next run-out: 3.91 ms at 16 ms against 0.91 ms at 1 ms, over 2 x 512 exchanges.
TEST(LatencyTimer, CostOfAnUpdateAgainstOneMillisecond)
{
    EXPECT_NEAR(latencyTimerCostSeconds(16, 512), 1024 * 0.003, 0.001);
    EXPECT_EQ(latencyTimerCostSeconds(1, 512), 0.0);
    EXPECT_NEAR(latencyTimerCostSeconds(2, 512), 1024 * 0.001, 0.001);     // runs out at 30 ms
    EXPECT_NEAR(latencyTimerCostSeconds(255, 512), 1024 * 0.226, 0.001);   // every reply waits for it
    EXPECT_NEAR(latencyTimerCostSeconds(16, 16), 32 * 0.003, 0.0001);
    EXPECT_EQ(latencyTimerCostSeconds(16, 0), 0.0);
}

TEST(LatencyTimer, HintSaysWhatItCostsAndHowToLowerIt)
{
    const std::string english = latencyHintLine(kLanguageEnglish, "FTVF2Q7K", 16);
    EXPECT_TRUE(contains(english, "FTVF2Q7K")) << english;
    EXPECT_TRUE(contains(english, "16 ms")) << english;
    EXPECT_TRUE(contains(english, "about 3 s longer than at 1 ms")) << english;
    EXPECT_TRUE(contains(english, "\"varnoflex-cli --set-latency-timer 1\"")) << english;
    EXPECT_TRUE(contains(english, "administrator")) << english;
    EXPECT_EQ(english.find('\n'), std::string::npos);
    const std::string german = latencyHintLine(kLanguageGerman, "FTVF2Q7K", 16);
    EXPECT_TRUE(contains(german, "Latenz-Timer steht auf 16 ms")) << german;
    EXPECT_TRUE(contains(german, "etwa 3 s")) << german;
    // A timer the estimate finds cheap is still worth a second.
    EXPECT_TRUE(contains(latencyHintLine(kLanguageEnglish, "FTVF2Q7K", 29), "about 1 s"));
}

TEST(LatencyTimer, LinuxLineNamesTheSysfsFileToLowerItThrough)
{
    const std::string file = "/sys/bus/usb-serial/devices/ttyUSB1/latency_timer";
    const std::string english = latencyStayedLine(kLanguageEnglish, "FTVF8H3N", 16, file);
    EXPECT_TRUE(contains(english, "Converter FTVF8H3N: its latency timer is 16 ms")) << english;
    EXPECT_TRUE(contains(english, "about 3 s longer than at 1 ms")) << english;
    EXPECT_TRUE(contains(english, "root writes 1 into " + file + ".")) << english;
    EXPECT_FALSE(contains(english, "--set-latency-timer")) << english;   // that is Windows' way
    EXPECT_EQ(english.find('\n'), std::string::npos);
    const std::string german = latencyStayedLine(kLanguageGerman, "FTVF8H3N", 16, file);
    EXPECT_TRUE(contains(german, "schreibt root 1 in " + file)) << german;
}

TEST(LatencyTimer, SetCommandOutcomes)
{
    std::vector<std::string> lines;
    const std::vector<LatencyTimerChange> set = {{"FTVF2Q7K", LatencyTimerOutcome::Set, ""},
                                                 {"FTVF8H3N", LatencyTimerOutcome::Set, ""}};
    EXPECT_EQ(describeLatencyTimerChanges(true, set, 1, kLanguageEnglish, lines), kExitSuccess);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(contains(lines[0], "Converter FTVF2Q7K: latency timer set to 1 ms. Plug the converter in again"))
        << lines[0];
    EXPECT_TRUE(contains(lines[1], "FTVF8H3N"));

    // Without administrator rights: said once, with the command to run, whatever was set.
    const std::vector<LatencyTimerChange> refused = {{"FTVF2Q7K", LatencyTimerOutcome::NeedsAdministrator, "Access denied"},
                                                     {"FTVF8H3N", LatencyTimerOutcome::NeedsAdministrator, "Access denied"}};
    EXPECT_EQ(describeLatencyTimerChanges(true, refused, 1, kLanguageEnglish, lines), kExitNeedsAdministrator);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Setting the latency timer needs administrator rights: run \"varnoflex-cli --set-latency-timer 1\" "
                        "as administrator.");

    const std::vector<LatencyTimerChange> failed = {{"FTVF2Q7K", LatencyTimerOutcome::Set, ""},
                                                    {"FTVF8H3N", LatencyTimerOutcome::Failed, "The device is not ready"}};
    EXPECT_EQ(describeLatencyTimerChanges(true, failed, 4, kLanguageEnglish, lines), kExitRegistryWriteFailed);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(contains(lines[0], "set to 4 ms"));
    EXPECT_EQ(lines[1], "Converter FTVF8H3N: the latency timer cannot be set: The device is not ready.");

    EXPECT_EQ(describeLatencyTimerChanges(true, {}, 1, kLanguageEnglish, lines), ERROR_NO_DRIVER_ENTRY);
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(describeLatencyTimerChanges(false, {}, 1, kLanguageGerman, lines), ERROR_NO_FTDI_DRIVER);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], "FTDI-Treiber"));
}

TEST(LatencyTimer, OptionTakesOneTo255Milliseconds)
{
    for (const auto& [word, expected] : {std::pair{"1", 1}, std::pair{"255", 255}, std::pair{"016", 16}}) {
        CliOptions options;
        std::string error;
        const std::vector<std::string> arguments = {"--set-latency-timer", word};
        ASSERT_TRUE(parseCliOptions(arguments, options, error)) << word << ": " << error;
        EXPECT_EQ(options.setLatencyTimerMs, expected);
    }
    CliOptions inlineValue;
    std::string error;
    const std::vector<std::string> inlineArguments = {"--set-latency-timer=2"};
    ASSERT_TRUE(parseCliOptions(inlineArguments, inlineValue, error)) << error;
    EXPECT_EQ(inlineValue.setLatencyTimerMs, 2);
    for (const char* word : {"0", "256", "1000", "-1", "x", ""}) {
        CliOptions options;
        const std::vector<std::string> arguments = {"--set-latency-timer", word};
        EXPECT_FALSE(parseCliOptions(arguments, options, error)) << word;
        EXPECT_TRUE(contains(error, "--set-latency-timer takes 1 to 255")) << error;
    }
    CliOptions missing;
    const std::vector<std::string> noValue = {"--set-latency-timer"};
    EXPECT_FALSE(parseCliOptions(noValue, missing, error));
}

// The timer reaches the report through the unit's events (a --all child sends it to its
// parent); a value no converter can have is not an event.
TEST(LatencyTimer, ReportCarriesTheTimerReadOrNull)
{
    UnitState state;
    ASSERT_TRUE(state.takeLine(R"({"event":"latencyTimer","milliseconds":16})"));
    EXPECT_EQ(unitReportObject(state, UnitReportExtras{})["latencyTimerMs"], 16);
    EXPECT_TRUE(unitReportObject(UnitState(), UnitReportExtras{})["latencyTimerMs"].is_null());

    for (const char* line : {R"({"event":"latencyTimer","milliseconds":0})",
                             R"({"event":"latencyTimer","milliseconds":256})",
                             R"({"event":"latencyTimer","milliseconds":1.5})",
                             R"({"event":"latencyTimer","milliseconds":"16"})", R"({"event":"latencyTimer"})"}) {
        UnitState refused;
        EXPECT_FALSE(refused.takeLine(line)) << line;
        EXPECT_FALSE(refused.latencyTimerMs().has_value()) << line;
    }
    // A later reading replaces an earlier one; the result that follows keeps it.
    ASSERT_TRUE(state.takeLine(R"({"event":"latencyTimer","milliseconds":1})"));
    ASSERT_TRUE(state.takeLine(R"({"event":"result","code":23,"name":"OK_UPDATE_FINISHED","exitStatus":0})"));
    EXPECT_EQ(state.latencyTimerMs(), 1);
}

}  // namespace
