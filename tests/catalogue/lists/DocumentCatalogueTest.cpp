#include "catalogue/lists/DocumentCatalogue.h"
#include "catalogue/tools/AllToolDescriptors.h"
#include "model/files/FileFormat.h"
#include "model/operations/Capabilities.h"
#include "support/DescriptorLists.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

FileInfo fileNamed(const QString& name)
{
    return fileInfoForURL(QUrl::fromLocalFile(QStringLiteral("/nowhere/") + name));
}

} // namespace

TEST(DocumentCatalogue, ListsInTheirPlaces)
{
    EXPECT_EQ(ids(documentDescriptors()),
              (QStringList{"convert.document.pdf", "convert.document.docx", "convert.document.md",
                           "convert.document.txt", "convert.document.html", "convert.document.rtf",
                           "convert.document.epub", "convert.document.odt", "convert.document.png",
                           "convert.document.jpg", "convert.document.doc", "convert.document.pages",
                           "tool.document.wordCount", "tool.document.merge", "tool.document.removeMetadata",
                           "tool.document.pdf"}));
    EXPECT_EQ(ids(ebookDescriptors()),
              (QStringList{"convert.ebook.pdf", "convert.ebook.docx", "convert.ebook.txt", "convert.ebook.md",
                           "convert.ebook.html", "convert.ebook.rtf", "convert.ebook.odt", "tool.ebook.wordCount",
                           "tool.ebook.merge", "tool.ebook.removeMetadata", "tool.ebook.pdf"}));
    EXPECT_EQ(ids(presentationDescriptors()),
              (QStringList{"convert.presentation.pdf", "convert.presentation.png", "convert.presentation.jpg",
                           "convert.presentation.pptx", "convert.presentation.key", "convert.presentation.odp"}));
    // Documents, e-books and presentations come right before spreadsheets.
    const QStringList all = ids(allToolDescriptors());
    EXPECT_EQ(all.indexOf("tool.document.pdf") + 1, all.indexOf("convert.ebook.pdf"));
    EXPECT_EQ(all.indexOf("tool.ebook.pdf") + 1, all.indexOf("convert.presentation.pdf"));
    EXPECT_EQ(all.indexOf("convert.presentation.odp") + 1, all.indexOf("convert.spreadsheet.xlsx"));
}

TEST(DocumentCatalogue, EntriesAndWhatTheyAccept)
{
    const auto& list = documentDescriptors();
    const OperationDescriptor& md = byID(list, "convert.document.md");
    EXPECT_EQ(md.title, "MD");
    EXPECT_EQ(md.verb, "Converting to MD");
    EXPECT_EQ(md.lane, JobLane::cpu);
    EXPECT_EQ(md.engine, EngineID::of(EngineID::Kind::text));
    EXPECT_FALSE(byID(list, "convert.document.docx").accepts(fileNamed("a.docx")));
    EXPECT_TRUE(byID(list, "convert.document.docx").accepts(fileNamed("a.md")));
    EXPECT_EQ(byID(list, "convert.document.png").optionFields, QList<OptionField>{OptionField::pageSize});
    EXPECT_TRUE(byID(list, "convert.document.txt").optionFields.isEmpty());
    // RTF and DOC are written by LibreOffice; Pages does not exist here.
    EXPECT_EQ(byID(list, "convert.document.rtf").engine, EngineID::of(EngineID::Kind::libreOffice));
    EXPECT_EQ(byID(list, "convert.document.pages").engine, EngineID::iwork(IWorkApp::pages));
    EXPECT_EQ(byID(list, "convert.document.pages").lane, JobLane::external);
    EXPECT_FALSE(Capabilities::shared().isAvailable(byID(list, "convert.document.pages").engine));

    const OperationDescriptor& strip = byID(list, "tool.document.removeMetadata");
    EXPECT_EQ(strip.title, "Remove Meta");
    for (const char* name : {"a.docx", "a.doc", "a.odt", "a.rtf"})
        EXPECT_TRUE(strip.accepts(fileNamed(name))) << name;
    EXPECT_FALSE(strip.accepts(fileNamed("a.md")));
    EXPECT_FALSE(strip.accepts(fileNamed("a.unknownext")));
    EXPECT_TRUE(byID(ebookDescriptors(), "tool.ebook.removeMetadata").accepts(fileNamed("a.epub")));
    EXPECT_FALSE(byID(ebookDescriptors(), "tool.ebook.removeMetadata").accepts(fileNamed("a.docx")));

    const OperationDescriptor& merge = byID(list, "tool.document.merge");
    EXPECT_EQ(merge.multiFile, MultiFileMode::combine);
    EXPECT_EQ(merge.minimumFiles, 2);
    EXPECT_EQ(merge.optionFields, QList<OptionField>{OptionField::mergeOrder});
    const OperationDescriptor& count = byID(list, "tool.document.wordCount");
    EXPECT_EQ(count.symbol, "textformat.123");
    EXPECT_FALSE(count.outputExtension.has_value() && !count.outputExtension->isEmpty());
    EXPECT_EQ(byID(list, "tool.document.pdf").outputExtension, "pdf");

    // Pages files and presentations only while LibreOffice can export them.
    const bool office = Capabilities::shared().libreOfficeURL().has_value();
    EXPECT_EQ(md.accepts(fileNamed("a.pages")), office);
    // Word 97 files are read through LibreOffice: without it nothing is offered for them.
    if (Capabilities::shared().pandocURL()) {
        for (const OperationDescriptor& descriptor : list)
            if (descriptor.id != QLatin1String("convert.document.doc") && descriptor.id != QLatin1String("convert.document.pages")
                && descriptor.id != QLatin1String("tool.document.merge"))
                EXPECT_EQ(descriptor.accepts(fileNamed("a.doc")), office) << descriptor.id.toStdString();
    }
    const auto& slides = presentationDescriptors();
    EXPECT_EQ(byID(slides, "convert.presentation.png").accepts(fileNamed("a.pptx")), office);
    EXPECT_FALSE(byID(slides, "convert.presentation.pptx").accepts(fileNamed("a.pptx")));
    EXPECT_FALSE(byID(slides, "convert.presentation.key").accepts(fileNamed("a.key")));
    EXPECT_EQ(byID(slides, "convert.presentation.odp").engine, EngineID::of(EngineID::Kind::libreOffice));
    EXPECT_EQ(byID(slides, "convert.presentation.pdf").lane, JobLane::external);
}

namespace {

// PATH pointing at an empty folder for the life of the object, the capabilities looked up again
// at both ends.
class ProgramsOutOfReach {
public:
    ProgramsOutOfReach() : m_path(qgetenv("PATH"))
    {
        qputenv("PATH", m_empty.path().toLocal8Bit());
        Capabilities::shared().refreshExternalApps(true);
    }
    ~ProgramsOutOfReach()
    {
        qputenv("PATH", m_path);
        Capabilities::shared().refreshExternalApps(true);
    }

private:
    QTemporaryDir m_empty;
    QByteArray m_path;
};

} // namespace

TEST(DocumentCatalogue, WithoutPandocWordFilesAreNotOffered)
{
    const auto& list = documentDescriptors();
    const QStringList loading{"convert.document.pdf", "convert.document.md", "convert.document.txt",
                              "convert.document.html", "convert.document.epub", "convert.document.odt",
                              "tool.document.wordCount", "tool.document.merge", "tool.document.pdf"};
    {
        ProgramsOutOfReach hidden;
        ASSERT_FALSE(Capabilities::shared().pandocURL());
        for (const QString& id : loading) {
            for (const char* name : {"a.docx", "a.odt", "a.rtf"})
                EXPECT_FALSE(byID(list, id).accepts(fileNamed(name))) << id.toStdString() << " " << name;
            // Text needs no pandoc (a conversion is not offered for its own format).
            const char* text = id == "convert.document.md" ? "a.txt" : "a.md";
            EXPECT_TRUE(byID(list, id).accepts(fileNamed(text))) << id.toStdString();
        }
        // DOCX is cleaned in place; the others are read and written again.
        EXPECT_TRUE(byID(list, "tool.document.removeMetadata").accepts(fileNamed("a.docx")));
        EXPECT_FALSE(byID(list, "tool.document.removeMetadata").accepts(fileNamed("a.odt")));
        EXPECT_FALSE(byID(list, "tool.document.removeMetadata").accepts(fileNamed("a.rtf")));
    }
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    for (const QString& id : loading)
        EXPECT_TRUE(byID(list, id).accepts(fileNamed("a.docx"))) << id.toStdString();
}

TEST(DocumentCatalogue, TextOfAnyExtensionIsADocumentAndBinaryIsNot)
{
    QTemporaryDir dir;
    QList<FileInfo> texts;
    for (const char* name : {"README", "notes.log", "app.conf", "data.json", "feed.xml", "style.css", "run.sh"})
        texts.append(fileInfoForURL(QUrl::fromLocalFile(writeFile(dir.filePath(name), "line one\nline two\n"))));
    QByteArray noise;
    for (int i = 0; i < 3000; ++i)
        noise.append(char((i * 7919 + 13) % 251 + 1)); // no NUL: only the content tells
    QList<FileInfo> binaries;
    for (const char* name : {"dump.log", "blob.json", "CHANGES"}) {
        const FileInfo info = fileInfoForURL(QUrl::fromLocalFile(writeFile(dir.filePath(name), noise)));
        if (info.category == FileCategory::document)
            binaries.append(info);
    }
    ASSERT_FALSE(binaries.isEmpty()) << "the type database guesses nothing from these names";

    int offered = 0;
    for (const OperationDescriptor& d : documentDescriptors()) {
        if (d.id == "tool.document.removeMetadata" || d.id == "convert.document.pages")
            continue;
        for (const FileInfo& file : texts) {
            ASSERT_EQ(file.category, FileCategory::document) << file.name.toStdString();
            EXPECT_TRUE(d.accepts(file)) << d.id.toStdString() << " " << file.name.toStdString();
        }
        for (const FileInfo& file : binaries)
            EXPECT_FALSE(d.accepts(file)) << d.id.toStdString() << " " << file.name.toStdString();
        ++offered;
    }
    EXPECT_EQ(offered, 14);
}
