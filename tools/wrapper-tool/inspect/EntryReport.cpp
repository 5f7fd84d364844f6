#include "inspect/EntryReport.h"

const char* methodName(uint16_t method)
{
    switch (method) {
    case 0:
        return "stored";
    case 8:
        return "deflated";
    case zipformat::kMethodSolid:
        return "solid";
    default:
        return "other";
    }
}

std::string entryLabel(size_t index, const PlannedEntry& planned)
{
    return "entry " + std::to_string(index) + " '" + planned.name + "'";
}

std::string refusalProblem(const UnpackPlan& plan, size_t index, bool withIndices)
{
    const PlannedEntry& planned = plan.entries[index];
    if (planned.reason == RefusalReason::NameCollision) {
        const size_t earlier = planned.collidesWith;
        std::string first = "'" + plan.entries[earlier].name + "'";
        std::string second = "'" + planned.name + "'";
        if (withIndices) {
            first = "entries " + std::to_string(earlier) + " " + first;
            second = std::to_string(index) + " " + second;
        }
        return first + " and " + second + ": the same name on Windows, which does not tell letter "
                                          "case apart; one of them would be lost";
    }
    const std::string label = withIndices ? entryLabel(index, planned) : "'" + planned.name + "'";
    if (planned.reason == RefusalReason::BadSolidBlock)
        return label + ": " + plan.solid.reason;
    return label + ": " + refusalText(planned.reason);
}

namespace {

const char* actionName(EntryAction action)
{
    switch (action) {
    case EntryAction::MakeFolder:
        return "make_folder";
    case EntryAction::WriteFile:
        return "write_file";
    case EntryAction::Refuse:
        return "refuse";
    }
    return "refuse";
}

} // namespace

JsonDocument entryJson(size_t index, const ZipEntryInfo& entry, const PlannedEntry& planned)
{
    JsonDocument out;
    out["index"] = index;
    out["name"] = planned.name;
    out["utf8"] = planned.encoding == NameEncoding::Utf8;
    out["kind"] = entryKindName(planned);
    out["action"] = actionName(planned.action);
    if (planned.refused()) {
        out["refusal"] = refusalCode(planned.reason);
        out["reason"] = refusalText(planned.reason);
    } else {
        out["refusal"] = nullptr;
        out["reason"] = nullptr;
    }
    out["staged_update"] = planned.stagedUpdate;
    out["method"] = entry.compressionMethod;
    out["method_name"] = methodName(entry.compressionMethod);
    out["compressed_size"] = entry.compressedSize;
    out["uncompressed_size"] = entry.uncompressedSize;
    out["crc32"] = entry.crc32;
    if (planned.solidBlock >= 0)
        out["solid_block"] = planned.solidBlock;
    else
        out["solid_block"] = nullptr;
    return out;
}
