// SPDX-License-Identifier: MIT
// Fuzz target: what the --all parent reads from a child's event pipe. Arbitrary bytes are
// split into lines as they would come (in two pieces), every line is taken into the unit's
// state, and the unit's report object is written. Besides the sanitizers' checks it asserts
// that nothing taken from the pipe can reach a terminal as a control byte, that the counts
// stay within their bounds, that a line turned away changes nothing, and that every line the
// syntax check lets through is one the JSON parser takes.
#include "cli/event_channel.h"
#include "cli/json_syntax.h"
#include "cli/unit_events.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition) std::abort();
}

// No C0 control, no DEL, no UTF-8 C1 control (U+0080 to U+009F).
bool safeForATerminal(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) return false;
        if (byte == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F) return false;
        }
    }
    return true;
}

}  // namespace

// AddressSanitizer holds freed memory back (256 MiB by default) to catch late uses of it. An
// execution here frees well under a mebibyte and keeps nothing for the next one, so 16 MiB
// still holds back everything any one execution freed; the default would make every
// allocation take memory last touched hundreds of mebibytes ago, which costs page faults and
// cache misses on each execution. ASAN_OPTIONS in the environment still overrides this.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    LineReader reader(kMaxEventLineBytes);
    UnitState state;
    int taken = 0;
    for (std::string_view piece : {bytes.substr(0, split), bytes.substr(split)}) {
        reader.take(piece, [&state, &taken](std::string_view line) {
            require(line.size() <= kMaxEventLineBytes);
            if (state.takeLine(line)) {
                ++taken;
            } else if (isOneJsonObject(line)) {
                // Turned away although the syntax check lets it through: the parser must take
                // it too (an object, but of no event the reader knows).
                require(nlohmann::json::accept(line));
            }
        });
    }
    if (taken == 0) {
        // Most inputs hold no event the reader takes; their state is the empty one, and its
        // report is the same every time: written once, not for each of them.
        require(state == UnitState{});
        static const bool emptyReportWritten = [&state] {
            const std::string report = jsonLine(unitReportObject(state, UnitReportExtras{}));
            require(!report.empty() && report.front() == '{' && report.back() == '}');
            return true;
        }();
        require(emptyReportWritten);
        return 0;
    }
    require(state.blocksWritten() >= 0 && state.blocksVerified() >= 0);
    require(state.blockCount() >= 0 && state.blockCount() <= (1 << 16));
    for (const std::string* text : {&state.serial(), &state.port(), &state.detail(), &state.lastError(),
                                    &state.reportProblem()}) {
        require(safeForATerminal(*text));
    }
    if (state.entry()) {
        for (const std::string* text : {&state.entry()->model, &state.entry()->target, &state.entry()->version,
                                        &state.entry()->firmwareFile}) {
            require(safeForATerminal(*text));
        }
    }
    const std::uint8_t code = state.finalCode();
    require(state.memory() != MemoryState::WrittenAndVerified || code == 23);
    // The report is written whatever came.
    const std::string report = jsonLine(unitReportObject(state, UnitReportExtras{}));
    require(!report.empty() && report.front() == '{' && report.back() == '}');
    return 0;
}
