// The check's verdict for a person and for the report.
#include "cli/check_report.h"

#include "cli/cli_texts.h"
#include "files/texts.h"

#include <cstdio>
#include <string_view>

namespace {

std::string hex16(std::uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
    return text;
}

// text with %1 and %2 replaced by first and second.
std::string filled(std::string_view text, const std::string& first, const std::string& second = {})
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == '1' || text[i + 1] == '2')) {
            out += text[i + 1] == '1' ? first : second;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

const char* failureName(CheckFailure failure)
{
    switch (failure) {
    case CheckFailure::None: return nullptr;
    case CheckFailure::ChecksumUnanswered: return "checksumUnanswered";
    case CheckFailure::VerifyNotAcknowledged: return "verifyNotAcknowledged";
    case CheckFailure::BlockUnanswered: return "blockUnanswered";
    }
    return nullptr;
}

JsonValue numberOrNull(int value)
{
    return value >= 0 ? JsonValue::number(value) : JsonValue();
}

}  // namespace

std::string checkVerdictText(const CheckResult& result, int lang, bool skipCurrent)
{
    const CliTexts& texts = cliTexts(lang);
    const std::string firmware = " " + cp1252ToUtf8(markControlCharactersInLine(result.firmwareVersion)) + " (" +
                                 cp1252ToUtf8(markControlCharactersInLine(result.firmwareFile)) + ")";
    std::string text;
    std::string_view next;
    switch (result.verdict) {
    case CheckVerdict::Holds:
        text = std::string(texts.checkHolds) + firmware;
        next = texts.skipLeftAlone;
        break;
    case CheckVerdict::Differs: {
        const std::string imageChecksum = hex16(result.imageChecksum);
        text = std::string(texts.checkDiffers) + firmware + ": ";
        if (result.refusedBlock >= 0) {
            text += filled(texts.checkRefusedBlock, std::to_string(result.refusedBlock), imageChecksum);
        } else {
            text += filled(texts.checkChecksums, hex16(result.deviceChecksum.value_or(0)), imageChecksum);
        }
        next = texts.skipUpdating;
        break;
    }
    case CheckVerdict::Failed:
        text = std::string(texts.checkFailed) + ": ";
        switch (result.failure) {
        case CheckFailure::ChecksumUnanswered: text += texts.checkNoChecksum; break;
        case CheckFailure::VerifyNotAcknowledged: text += texts.checkNoVerify; break;
        case CheckFailure::BlockUnanswered:
        case CheckFailure::None:
            text += filled(texts.checkNoBlockAnswer, std::to_string(result.unansweredBlock));
            break;
        }
        next = texts.skipNotUpdated;
        break;
    }
    if (skipCurrent) text += "; " + std::string(next);
    return text;
}

const char* checkVerdictName(CheckVerdict verdict)
{
    switch (verdict) {
    case CheckVerdict::Holds: return "holds";
    case CheckVerdict::Differs: return "differs";
    case CheckVerdict::Failed: return "failed";
    }
    return "failed";
}

JsonValue checkReport(const std::optional<CheckResult>& result)
{
    if (!result) return JsonValue();
    JsonValue check = JsonValue::object();
    check.set("verdict", JsonValue::string(checkVerdictName(result->verdict)));
    const char* failure = failureName(result->failure);
    check.set("failure", failure != nullptr ? JsonValue::string(failure) : JsonValue());
    check.set("blocks", JsonValue::number(result->blockCount));
    check.set("deviceChecksum", result->deviceChecksum ? JsonValue::number(*result->deviceChecksum) : JsonValue());
    check.set("imageChecksum", JsonValue::number(result->imageChecksum));
    check.set("blocksVerified", JsonValue::number(result->blocksVerified));
    check.set("refusedBlock", numberOrNull(result->refusedBlock));
    check.set("unansweredBlock", numberOrNull(result->unansweredBlock));
    return check;
}
