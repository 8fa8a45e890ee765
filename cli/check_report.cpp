// SPDX-License-Identifier: MIT
// The check's verdict for a person and for the report.
#include "cli/check_report.h"

#include "cli/cli_texts.h"
#include "cli/json_members.h"
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

Json numberOrNull(int value)
{
    return value >= 0 ? Json(value) : Json();
}

constexpr int kMaxBlocks = 1 << 16;   // far above any unit's 512

// integerMember for the int fields of a check result.
template <typename Object>
std::optional<int> intMember(const Object& object, const char* name, int low, int high)
{
    const auto value = integerMember(object, name, low, high);
    return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}

template <typename Object>
bool isNull(const Object& object, const char* name)
{
    const auto found = object.find(name);
    return found != object.end() && found->is_null();
}

}  // namespace

std::string checkVerdictText(const CheckResult& result, int lang, bool skipCurrent)
{
    return checkVerdictTextShown(result, cp1252ToUtf8(markControlCharactersInLine(result.firmwareVersion)),
                                 cp1252ToUtf8(markControlCharactersInLine(result.firmwareFile)), lang, skipCurrent);
}

std::string checkVerdictTextShown(const CheckResult& result, const std::string& shownVersion,
                                  const std::string& shownFile, int lang, bool skipCurrent)
{
    const CliTexts& texts = cliTexts(lang);
    const std::string firmware = " " + shownVersion + " (" + shownFile + ")";
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

Json checkReport(const std::optional<CheckResult>& result)
{
    if (!result) return Json();
    Json check = Json::object();
    check["verdict"] = checkVerdictName(result->verdict);
    const char* failure = failureName(result->failure);
    check["failure"] = failure != nullptr ? Json(failure) : Json();
    check["blocks"] = result->blockCount;
    check["deviceChecksum"] = result->deviceChecksum ? Json(*result->deviceChecksum) : Json();
    check["imageChecksum"] = result->imageChecksum;
    check["blocksVerified"] = result->blocksVerified;
    check["refusedBlock"] = numberOrNull(result->refusedBlock);
    check["unansweredBlock"] = numberOrNull(result->unansweredBlock);
    return check;
}

namespace {

template <typename Object>
std::optional<CheckResult> checkResultFromMembers(const Object& members)
{
    if (!members.is_object()) return std::nullopt;
    CheckResult result;
    const auto verdict = members.find("verdict");
    if (verdict == members.end() || !verdict->is_string()) return std::nullopt;
    const std::string& verdictName = verdict->template get_ref<const std::string&>();
    bool known = false;
    for (CheckVerdict each : {CheckVerdict::Holds, CheckVerdict::Differs, CheckVerdict::Failed}) {
        if (verdictName == checkVerdictName(each)) {
            result.verdict = each;
            known = true;
        }
    }
    if (!known) return std::nullopt;
    const auto failure = members.find("failure");
    if (failure != members.end() && failure->is_string()) {
        for (CheckFailure each : {CheckFailure::ChecksumUnanswered, CheckFailure::VerifyNotAcknowledged,
                                  CheckFailure::BlockUnanswered}) {
            if (failure->template get_ref<const std::string&>() == failureName(each)) result.failure = each;
        }
    }
    const auto blocks = intMember(members, "blocks", 0, kMaxBlocks);
    const auto imageChecksum = intMember(members, "imageChecksum", 0, 0xFFFF);
    const auto verified = intMember(members, "blocksVerified", 0, kMaxBlocks);
    if (!blocks || !imageChecksum || !verified) return std::nullopt;
    result.blockCount = *blocks;
    result.imageChecksum = static_cast<std::uint16_t>(*imageChecksum);
    result.blocksVerified = *verified;
    if (const auto device = intMember(members, "deviceChecksum", 0, 0xFFFF)) {
        result.deviceChecksum = static_cast<std::uint16_t>(*device);
    } else if (!isNull(members, "deviceChecksum")) {
        return std::nullopt;
    }
    result.refusedBlock = intMember(members, "refusedBlock", 0, kMaxBlocks).value_or(-1);
    result.unansweredBlock = intMember(members, "unansweredBlock", 0, kMaxBlocks).value_or(-1);
    // A difference needs the unit's word: its checksum, or a block it refused.
    if (result.verdict == CheckVerdict::Differs && !result.deviceChecksum) return std::nullopt;
    return result;
}

}  // namespace

std::optional<CheckResult> checkResultFrom(const Json& members)
{
    return checkResultFromMembers(members);
}

std::optional<CheckResult> checkResultFrom(const EventJson& members)
{
    return checkResultFromMembers(members);
}
