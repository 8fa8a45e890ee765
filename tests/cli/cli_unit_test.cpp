// The command-line updater's parts that need no unit: its JSON reader and writer, the unit
// report and its times, the trace file names of --all, and the new options.
#include "cli/cli_options.h"
#include "cli/json.h"
#include "cli/unit_report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

TEST(Json, WritesAndReadsBackNestedValues)
{
    JsonValue inner = JsonValue::array();
    inner.push(JsonValue::number(12));
    inner.push(JsonValue::number(-0.25));
    inner.push(JsonValue());
    inner.push(JsonValue::boolean(false));
    JsonValue document = JsonValue::object();
    document.set("name", JsonValue::string("VX-58 \"Pro\"\\ für\n\ttab\x01"));
    document.set("list", std::move(inner));
    document.set("empty", JsonValue::object());
    document.set("name", JsonValue::string("replaced, not doubled"));

    const std::string text = document.write();
    EXPECT_EQ(text.find("\"name\""), text.rfind("\"name\""));
    const std::optional<JsonValue> read = parseJson(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->write(), text);
    EXPECT_EQ(read->members().front().first, "name");   // member order is kept
    EXPECT_EQ(read->find("name")->asString(), "replaced, not doubled");
    EXPECT_EQ(read->find("list")->items().at(1).asNumber(), -0.25);
    EXPECT_TRUE(read->find("list")->items().at(2).isNull());
    EXPECT_EQ(read->find("missing"), nullptr);

    JsonValue escaped = JsonValue::string("a\"b\\c\nd\x1f" "ä");
    const std::string escapedText = escaped.write();
    EXPECT_EQ(escapedText, "\"a\\\"b\\\\c\\nd\\u001fä\"");
    EXPECT_EQ(parseJson(escapedText)->asString(), "a\"b\\c\nd\x1f" "ä");
}

TEST(Json, NumbersAreExactAndShort)
{
    EXPECT_EQ(JsonValue::number(266319).write(), "266319");
    EXPECT_EQ(JsonValue::number(7.702).write(), "7.702");
    EXPECT_EQ(JsonValue::number(0.1).write(), "0.1");
    EXPECT_EQ(JsonValue::number(1.0 / 0.0).write(), "null");
    EXPECT_EQ(parseJson("1e3")->asNumber(), 1000);
    EXPECT_EQ(parseJson(" -0.5 ")->asNumber(), -0.5);
}

TEST(Json, UnicodeEscapesBecomeUtf8)
{
    EXPECT_EQ(parseJson("\"\\u00e9\\u20AC\"")->asString(), "é€");
    EXPECT_EQ(parseJson("\"\\ud83d\\ude00\"")->asString(), "\xF0\x9F\x98\x80");
    EXPECT_FALSE(parseJson("\"\\ud83d\""));          // a lone high surrogate
    EXPECT_FALSE(parseJson("\"\\ude00\""));          // a lone low surrogate
    EXPECT_FALSE(parseJson("\"\\u00g1\""));
}

TEST(Json, RefusesWhatIsNotOneValidDocument)
{
    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "{\"a\":1,}", "01", "1.", "-", ".5", "1e",
                            "\"open", "\"tab\there\"", "\"\\x\"", "tru", "nul", "{} {}", "[1] x",
                            "{1:2}", "'single'"}) {
        EXPECT_FALSE(parseJson(bad)) << bad;
    }
    std::string deep(65, '[');
    deep += std::string(65, ']');
    EXPECT_FALSE(parseJson(deep));
    std::string fine(64, '[');
    fine += std::string(64, ']');
    EXPECT_TRUE(parseJson(fine));
}

TEST(UnitReport, TimesAreUtcWithMilliseconds)
{
    using namespace std::chrono;
    EXPECT_EQ(isoTime(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(isoTime(system_clock::time_point{milliseconds(1700000000123)}), "2023-11-14T22:13:20.123Z");
    EXPECT_EQ(isoTime(system_clock::time_point{milliseconds(951782399999)}), "2000-02-28T23:59:59.999Z");
}

TEST(UnitReport, MembersOfAUnit)
{
    using namespace std::chrono;
    UnitRecord record;
    record.serial = "FTVF2Q7K";
    record.port = "/dev/ttyUSB0";
    record.entry = ReportEntry{"VX-58 Pro", "Lumetra LX", "2.14", "VX58PRO_V214.hex"};
    record.storedCodes = {9, 22, 23};
    record.finalCode = 23;
    record.start = system_clock::time_point{milliseconds(1000)};
    record.end = system_clock::time_point{milliseconds(31250)};
    record.blocksWritten = 512;
    record.blocksVerified = 511;
    record.bytesSent = 266319;
    record.bytesReceived = 6235;
    const JsonValue unit = unitReport(record);
    EXPECT_EQ(unit.find("serial")->asString(), "FTVF2Q7K");
    EXPECT_EQ(unit.find("entry")->find("firmwareFile")->asString(), "VX58PRO_V214.hex");
    const auto& stored = unit.find("stored")->items();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].find("name")->asString(), "ERROR_ERASE_ALREADY_BLANK");
    EXPECT_EQ(stored[1].find("code")->asNumber(), 22);
    EXPECT_EQ(unit.find("result")->find("name")->asString(), "OK_UPDATE_FINISHED");
    EXPECT_EQ(unit.find("durationSeconds")->asNumber(), 30.25);
    EXPECT_EQ(unit.find("start")->asString(), "1970-01-01T00:00:01.000Z");
    EXPECT_EQ(unit.find("blocksVerified")->asNumber(), 511);
    EXPECT_EQ(unit.find("bytesSent")->asNumber(), 266319);

    // Nothing identified: no serial, port, entry or result, but the codes and times stay.
    UnitRecord none;
    none.storedCodes = {8};
    none.finalCode = 8;
    const JsonValue empty = unitReport(none);
    EXPECT_TRUE(empty.find("serial")->isNull());
    EXPECT_TRUE(empty.find("port")->isNull());
    EXPECT_TRUE(empty.find("entry")->isNull());
    EXPECT_EQ(empty.find("result")->find("name")->asString(), "NO_DEVICE_DETECTED");

    const JsonValue document = reportDocument({unit, empty}, true);
    EXPECT_EQ(document.find("program")->asString(), "varnoflex-cli");
    EXPECT_TRUE(document.find("interrupted")->asBool());
    EXPECT_EQ(document.find("units")->items().size(), 2u);
}

// A refused firmware file: its problem's kind and where it is, null where it concerns none.
TEST(UnitReport, FirmwareProblem)
{
    UnitRecord record;
    record.finalCode = 3;
    EXPECT_TRUE(unitReport(record).find("firmwareProblem")->isNull());

    record.firmwareProblem = FirmwareProblem{FirmwareProblemKind::ChecksumMismatch, 12, 14, 0x10020};
    const JsonValue problem = *unitReport(record).find("firmwareProblem");
    EXPECT_EQ(problem.find("kind")->asString(), "checksumMismatch");
    EXPECT_EQ(problem.find("record")->asNumber(), 12);
    EXPECT_EQ(problem.find("line")->asNumber(), 14);
    EXPECT_EQ(problem.find("address")->asNumber(), 0x10020);

    record.firmwareProblem = FirmwareProblem{FirmwareProblemKind::NoDataRecord, 0, 0, -1};
    const JsonValue empty = *unitReport(record).find("firmwareProblem");
    EXPECT_EQ(empty.find("kind")->asString(), "noDataRecord");
    for (const char* member : {"record", "line", "address"}) {
        EXPECT_TRUE(empty.find(member)->isNull()) << member;
    }
}

TEST(UnitReport, TraceFileOfEachUnitCarriesItsSerial)
{
    EXPECT_EQ(traceFileForUnit("trace.txt", "FTVF2Q7K"), "trace-FTVF2Q7K.txt");
    EXPECT_EQ(traceFileForUnit("trace", "FTVF2Q7K"), "trace-FTVF2Q7K");
    EXPECT_EQ(traceFileForUnit("logs.d/trace", "FTVF2Q7K"), "logs.d/trace-FTVF2Q7K");
    EXPECT_EQ(traceFileForUnit("logs/.trace", "FTVF2Q7K"), "logs/.trace-FTVF2Q7K");
    EXPECT_EQ(traceFileForUnit("C:\\bench\\run.1.log", "FTVF2Q7K"), "C:\\bench\\run.1-FTVF2Q7K.log");
}

bool parses(std::vector<const char*> arguments, CliOptions& options, std::string& error)
{
    return parseCliOptions(arguments, options, error);
}

TEST(CliOptions, SerialAllJsonAndTrace)
{
    CliOptions options;
    std::string error;
    ASSERT_TRUE(parses({"--serial", "FTVF2Q7K", "--json=-", "--trace", "t.txt"}, options, error)) << error;
    EXPECT_EQ(options.serial, "FTVF2Q7K");
    EXPECT_EQ(options.jsonFile, "-");
    EXPECT_EQ(options.traceFile, "t.txt");
    EXPECT_FALSE(options.all);

    for (const char* serial : {"FTVF2Q7", "FTVF2Q7KX", "FTVF-Q7K", "FTVF Q7K", ""}) {
        CliOptions bad;
        EXPECT_FALSE(parses({"--serial", serial}, bad, error)) << serial;
        EXPECT_NE(error.find("--serial"), std::string::npos);
    }
    CliOptions both;
    EXPECT_FALSE(parses({"--all", "--serial", "FTVF2Q7K"}, both, error));
    CliOptions traceToOutput;
    EXPECT_FALSE(parses({"--trace", "-"}, traceToOutput, error));
    CliOptions noFile;
    EXPECT_FALSE(parses({"--json"}, noFile, error));
    CliOptions all;
    ASSERT_TRUE(parses({"--all", "--json", "r.json"}, all, error));
    EXPECT_TRUE(all.all);
}

}  // namespace
