#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZipFormat.h"
#include "UnpackPlan.h"
#include "inspect/EntryReport.h"
#include "inspect/Json.h"

namespace {

ZipEntryInfo entry(const std::string& name, uint16_t flags)
{
    ZipEntryInfo e;
    e.fileName = name;
    e.flags = flags;
    e.compressionMethod = 8;
    e.compressedSize = 12;
    e.uncompressedSize = 34;
    e.crc32 = 0xCAFEBABE;
    return e;
}

} // namespace

// One entry's document: the decoded name as UTF-8 text, what the plan does
// with it, and the archive's numbers.
TEST(EntryReport, JsonOfOneEntry)
{
    struct Case {
        const char* what;
        ZipEntryInfo info;
        const char* text; // the whole document
    } cases[] = {
        {"UTF-8 name under bit 11", entry("caf\xc3\xa9/\xc3\x84rger.txt", zipformat::kFlagUtf8Name),
         "{\"index\":0,\"name\":\"caf\xc3\xa9/\xc3\x84rger.txt\",\"utf8\":true,\"kind\":\"file\","
         "\"action\":\"write_file\",\"refusal\":null,\"reason\":null,\"staged_update\":false,"
         "\"method\":8,\"method_name\":\"deflated\",\"compressed_size\":12,\"uncompressed_size\":34,"
         "\"crc32\":3405691582,\"solid_block\":null}"},
        {"code-page name shown as Windows-1252", entry("caf\xe9.txt", 0),
         "{\"index\":0,\"name\":\"caf\xc3\xa9.txt\",\"utf8\":false,\"kind\":\"file\","
         "\"action\":\"write_file\",\"refusal\":null,\"reason\":null,\"staged_update\":false,"
         "\"method\":8,\"method_name\":\"deflated\",\"compressed_size\":12,\"uncompressed_size\":34,"
         "\"crc32\":3405691582,\"solid_block\":null}"},
        {"refused: invalid UTF-8 still gives valid JSON", entry("caf\xe9.txt", zipformat::kFlagUtf8Name),
         "{\"index\":0,\"name\":\"caf\xc3\xa9.txt\",\"utf8\":true,\"kind\":\"refused\","
         "\"action\":\"refuse\",\"refusal\":\"invalid_utf8\","
         "\"reason\":\"name is marked UTF-8 (bit 11) but is not valid UTF-8\",\"staged_update\":false,"
         "\"method\":8,\"method_name\":\"deflated\",\"compressed_size\":12,\"uncompressed_size\":34,"
         "\"crc32\":3405691582,\"solid_block\":null}"},
    };
    for (const Case& c : cases) {
        const UnpackPlan plan = planUnpackNamed(std::vector<ZipEntryInfo>{c.info});
        const JsonDocument document = entryJson(0, c.info, plan.entries[0]);
        EXPECT_EQ(document.dump(), c.text) << c.what;
        // What a reader gets back is the same text, not \u00XX per byte.
        EXPECT_EQ(JsonDocument::parse(jsonText(document))["name"], plan.entries[0].name) << c.what;
    }
}

TEST(EntryReport, ProblemLines)
{
    std::vector<ZipEntryInfo> entries{entry("Lib/Core.dll", 0), entry("lib/core.dll", 0)};
    const UnpackPlan collision = planUnpackNamed(entries);
    EXPECT_EQ(refusalProblem(collision, 1),
              "entries 0 'Lib/Core.dll' and 1 'lib/core.dll': the same name on Windows, which does "
              "not tell letter case apart; one of them would be lost");
    EXPECT_EQ(refusalProblem(collision, 1, false).substr(0, 34), "'Lib/Core.dll' and 'lib/core.dll':");
    const UnpackPlan unsafe = planUnpackNamed(std::vector<ZipEntryInfo>{entry("../x", 0)});
    EXPECT_EQ(refusalProblem(unsafe, 0), "entry 0 '../x': name would leave the work area");
}
