#include "catalogue/lists/SpreadsheetCatalogue.h"
#include "catalogue/lists/SubtitleCatalogue.h"
#include "catalogue/tools/AllToolDescriptors.h"
#include "model/files/FileFormat.h"
#include "model/operations/Capabilities.h"
#include "support/DescriptorLists.h"

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

namespace {

FileInfo fileNamed(const QString& name)
{
    return fileInfoForURL(QUrl::fromLocalFile(QStringLiteral("/nowhere/") + name));
}

} // namespace

TEST(SpreadsheetCatalogue, ListsConversionsThenTools)
{
    EXPECT_EQ(ids(spreadsheetDescriptors()),
              (QStringList{"convert.spreadsheet.xlsx", "convert.spreadsheet.csv", "convert.spreadsheet.tsv",
                           "convert.spreadsheet.pdf", "convert.spreadsheet.ods", "convert.spreadsheet.numbers",
                           "tool.spreadsheet.splitSheets", "tool.spreadsheet.mergeCSV"}));
    EXPECT_EQ(ids(subtitleDescriptors()),
              (QStringList{"convert.subtitle.srt", "convert.subtitle.vtt", "convert.subtitle.ass",
                           "convert.subtitle.txt", "convert.subtitle.ssa", "tool.subtitle.shift",
                           "tool.subtitle.merge"}));
    // Spreadsheets, then subtitles, then archives.
    const QStringList all = ids(allToolDescriptors());
    EXPECT_LT(all.indexOf("convert.audio.m4r"), all.indexOf("convert.spreadsheet.xlsx"));
    EXPECT_EQ(all.indexOf("tool.spreadsheet.mergeCSV") + 1, all.indexOf("convert.subtitle.srt"));
    EXPECT_EQ(all.indexOf("tool.subtitle.merge") + 1, all.indexOf("convert.archive.zip"));
}

TEST(SpreadsheetCatalogue, EntriesAndWhatTheyAccept)
{
    const auto& list = spreadsheetDescriptors();
    const OperationDescriptor& csv = byID(list, "convert.spreadsheet.csv");
    EXPECT_EQ(csv.title, "CSV");
    EXPECT_EQ(csv.verb, "Converting to CSV");
    EXPECT_EQ(csv.optionFields, QList<OptionField>{OptionField::allSheets});
    EXPECT_EQ(csv.engine, EngineID::of(EngineID::Kind::ooxml));
    EXPECT_TRUE(csv.accepts(fileNamed("a.xlsx")));
    EXPECT_TRUE(csv.accepts(fileNamed("a.tab")));
    EXPECT_FALSE(csv.accepts(fileNamed("a.csv")));
    // Other workbooks go through LibreOffice when it is there.
    const bool office = Capabilities::shared().libreOfficeURL().has_value();
    EXPECT_EQ(csv.accepts(fileNamed("a.ods")), office);
    EXPECT_EQ(byID(list, "convert.spreadsheet.pdf").engine, EngineID::office(IWorkApp::numbers));
    EXPECT_EQ(byID(list, "convert.spreadsheet.pdf").lane, JobLane::external);
    EXPECT_EQ(byID(list, "convert.spreadsheet.ods").engine, EngineID::of(EngineID::Kind::libreOffice));
    EXPECT_FALSE(byID(list, "convert.spreadsheet.ods").accepts(fileNamed("a.ods")));
    EXPECT_EQ(byID(list, "convert.spreadsheet.ods").accepts(fileNamed("a.xlsx")), office);
    EXPECT_TRUE(byID(list, "convert.spreadsheet.xlsx").optionFields.isEmpty());

    const OperationDescriptor& split = byID(list, "tool.spreadsheet.splitSheets");
    EXPECT_EQ(split.symbol, "tablecells");
    EXPECT_TRUE(split.accepts(fileNamed("a.xlsx")));
    EXPECT_FALSE(split.accepts(fileNamed("a.csv")));
    EXPECT_EQ(split.accepts(fileNamed("a.xls")), office);

    const OperationDescriptor& merge = byID(list, "tool.spreadsheet.mergeCSV");
    EXPECT_EQ(merge.multiFile, MultiFileMode::combine);
    EXPECT_EQ(merge.minimumFiles, 2);
    EXPECT_EQ(merge.title, "Merge CSVs");
    EXPECT_TRUE(merge.accepts(fileNamed("a.tsv")));
    EXPECT_FALSE(merge.accepts(fileNamed("a.xlsx")));
}

TEST(SpreadsheetCatalogue, SheetFileNamesNeverCollide)
{
    const QList<Sheet> sheets{{"Sales", {}}, {"Q1/Q2", {}}, {" Data", {}}, {"Data", {}}, {"data", {}},
                              {"Data 2", {}}, {"", {}}};
    EXPECT_EQ(sheetFileNames(sheets),
              (QStringList{"Sales", "Q1 Q2", "Data", "Data 2", "data 3", "Data 2 2", "Sheet7"}));
}

TEST(SubtitleCatalogue, EntriesAndLabels)
{
    const auto& list = subtitleDescriptors();
    const OperationDescriptor& vtt = byID(list, "convert.subtitle.vtt");
    EXPECT_EQ(vtt.title, "VTT");
    EXPECT_EQ(vtt.engine, EngineID::of(EngineID::Kind::subtitle));
    EXPECT_TRUE(vtt.accepts(fileNamed("a.srt")));
    EXPECT_FALSE(vtt.accepts(fileNamed("a.vtt")));

    const OperationDescriptor& shift = byID(list, "tool.subtitle.shift");
    EXPECT_EQ(shift.behavior, OperationBehavior::sheet());
    EXPECT_EQ(shift.optionFields, QList<OptionField>{OptionField::subtitleShift});
    EXPECT_EQ(shift.symbol, "clock.arrow.2.circlepath");
    const OperationDescriptor& merge = byID(list, "tool.subtitle.merge");
    EXPECT_EQ(merge.multiFile, MultiFileMode::combine);
    EXPECT_EQ(merge.minimumFiles, 2);
    EXPECT_EQ(merge.optionFields, QList<OptionField>{OptionField::mergeOrder});

    EXPECT_EQ(shiftLabel(0), "+0 ms");
    EXPECT_EQ(shiftLabel(500), "+500 ms");
    EXPECT_EQ(shiftLabel(-1200), "-1200 ms");
}
