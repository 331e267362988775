#include "model/files/FileFormat.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace qv;

TEST(FileFormat, CatalogueHoldsEveryFormatAndExtensionOnce)
{
    const auto& catalogue = formatCatalogue();
    ASSERT_EQ(catalogue.size(), 85);

    QSet<QString> ids;
    QSet<QString> extensions;
    int extensionCount = 0;
    QHash<FileCategory, int> perCategory;
    for (const FileFormat& format : catalogue) {
        EXPECT_FALSE(ids.contains(format.id)) << format.id.toStdString();
        ids.insert(format.id);
        ASSERT_FALSE(format.extensions.isEmpty());
        for (const QString& ext : format.extensions) {
            EXPECT_EQ(ext, ext.toLower());
            EXPECT_FALSE(extensions.contains(ext)) << ext.toStdString();
            extensions.insert(ext);
            ++extensionCount;
        }
        ++perCategory[format.category];
    }
    EXPECT_EQ(extensionCount, 147);
    EXPECT_EQ(formatsByExtension().size(), 147);

    EXPECT_EQ(perCategory[FileCategory::image], 18);
    EXPECT_EQ(perCategory[FileCategory::video], 13);
    EXPECT_EQ(perCategory[FileCategory::audio], 17);
    EXPECT_EQ(perCategory[FileCategory::pdf], 1);
    EXPECT_EQ(perCategory[FileCategory::document], 11);
    EXPECT_EQ(perCategory[FileCategory::ebook], 1);
    EXPECT_EQ(perCategory[FileCategory::presentation], 4);
    EXPECT_EQ(perCategory[FileCategory::spreadsheet], 6);
    EXPECT_EQ(perCategory[FileCategory::subtitle], 4);
    EXPECT_EQ(perCategory[FileCategory::archive], 10);
}

TEST(FileFormat, LookupsAndLabels)
{
    EXPECT_EQ(formatForExtension(QStringLiteral("jpeg"))->id, QStringLiteral("jpg"));
    EXPECT_EQ(formatForExtension(QStringLiteral("tgz"))->id, QStringLiteral("tar.gz"));
    EXPECT_EQ(formatForExtension(QStringLiteral("nef"))->id, QStringLiteral("raw"));
    EXPECT_FALSE(formatForExtension(QStringLiteral("zst")));
    EXPECT_FALSE(formatForExtension(QString()));

    EXPECT_EQ(formatForExtension(QStringLiteral("textclipping"))->label, QStringLiteral("CLIPPING"));
    EXPECT_EQ(formatForExtension(QStringLiteral("tbz2"))->label, QStringLiteral("TAR.BZ2"));
    EXPECT_EQ(formatCatalogue().first().extensions.first(), QStringLiteral("jpg"));

    EXPECT_EQ(formatForType(QStringLiteral("com.apple.quicktime-movie"))->id, QStringLiteral("mov"));
    EXPECT_EQ(formatForType(QStringLiteral("application/pdf"))->id, QStringLiteral("pdf"));
    EXPECT_FALSE(formatForType(QStringLiteral("public.data")));
}

TEST(FileCategory, TitlesNamesAndContentTypes)
{
    EXPECT_EQ(title(FileCategory::image), QStringLiteral("Images"));
    EXPECT_EQ(title(FileCategory::ebook), QStringLiteral("E-books"));
    EXPECT_EQ(title(FileCategory::other), QStringLiteral("Other files"));
    EXPECT_EQ(allCases<FileCategory>().size(), 12);
    EXPECT_EQ(toString(FileCategory::presentation), QStringLiteral("presentation"));
    EXPECT_EQ(enumFromString<FileCategory>(QStringLiteral("folder")), FileCategory::folder);
    EXPECT_FALSE(enumFromString<FileCategory>(QStringLiteral("Folder")));

    const auto category = [](const char* type) { return categoryForContentType(QLatin1String(type)); };
    EXPECT_EQ(category("application/pdf"), FileCategory::pdf);
    EXPECT_EQ(category("image/png"), FileCategory::image);
    EXPECT_EQ(category("video/mp4"), FileCategory::video);
    EXPECT_EQ(category("audio/flac"), FileCategory::audio);
    EXPECT_EQ(category("application/zip"), FileCategory::archive);
    EXPECT_EQ(category("text/csv"), FileCategory::spreadsheet);
    EXPECT_EQ(category("application/vnd.ms-powerpoint"), FileCategory::presentation);
    EXPECT_EQ(category("text/x-c++src"), FileCategory::document);
    // Office packages are zip files underneath, but they are documents to the user.
    EXPECT_EQ(category("application/vnd.openxmlformats-officedocument.wordprocessingml.document"),
              FileCategory::document);
    EXPECT_EQ(category("inode/directory"), FileCategory::folder);
    EXPECT_EQ(category("application/octet-stream"), FileCategory::other);
    EXPECT_EQ(category("no such type"), FileCategory::other);
    EXPECT_EQ(category("public.jpeg"), FileCategory::image);
}
