#include "inspect/PayloadChecks.h"

#include "inspect/EntryReport.h"
#include "ZipFormat.h"
#include "pack/ZipWriter.h"

const char kOverlapProblem[] =
    "entries overlap each other or the central directory (a ZIP bomb's layout); "
    "the stub refuses the archive";

std::vector<ZipEntryInfo> packedEntries(const std::vector<SourceEntry>& entries)
{
    std::vector<ZipEntryInfo> out(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        out[i].fileName = entries[i].name;
        out[i].flags = ZipWriter::nameFlags(entries[i].name);
        out[i].externalAttributes =
            entries[i].isDirectory ? zipformat::kDosDirectoryAttribute : zipformat::kDosArchiveAttribute;
    }
    return out;
}

std::string packNamesProblem(const std::vector<SourceEntry>& entries)
{
    const UnpackPlan plan = planUnpackNamed(packedEntries(entries));
    std::string problems;
    for (size_t i = 0; i < plan.entries.size(); ++i)
        if (plan.entries[i].refused())
            problems += (problems.empty() ? "" : "\n") + std::string("refused ") +
                        refusalProblem(plan, i, false);
    return problems;
}

std::string collisionProblem(const UnpackPlan& plan)
{
    for (size_t i = 0; i < plan.entries.size(); ++i)
        if (plan.entries[i].reason == RefusalReason::NameCollision)
            return refusalProblem(plan, i);
    return std::string();
}
