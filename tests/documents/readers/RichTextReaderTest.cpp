#include "documents/readers/RichTextReader.h"
#include "model/errors/JobFailure.h"
#include "model/operations/Capabilities.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

// The first sentence a read of the file fails with, or "<read>".
QString failureOf(const QString& file, const QString& work)
{
    try {
        RichTextReader::readAttributedFile(QUrl::fromLocalFile(file), "docx", QUrl::fromLocalFile(work), {});
    } catch (...) {
        return jobFailure(std::current_exception()).message;
    }
    return QStringLiteral("<read>");
}

} // namespace

// What pandoc writes is read only when pandoc wrote it whole.
TEST(RichTextReaderPandoc, APageCutShortOrADiskFullIsNoDocument)
{
    QTemporaryDir dir;
    const QString docx = dir.filePath("long.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3",
                         {"-c", "import sys, docx\nd = docx.Document()\nd.add_heading('Overview', 1)\n"
                                "for i in range(400):\n    d.add_paragraph('Paragraph %d of a long report, ' % i * 8)\n"
                                "d.save(sys.argv[1])\n",
                          docx},
                         &output),
              0)
        << output.toStdString();
    const QString work = dir.filePath("work");
    ASSERT_TRUE(QDir().mkpath(work));

    // A pandoc that ends well having written half a page.
    const QString fakes = dir.filePath("bin");
    writeFile(fakes + "/pandoc", "#!/bin/sh\nfor a in \"$@\"; do case $a in --output=*) "
                                 "printf '<html><head><title></title></head><body>\\n<h1>Over' > \"${a#--output=}\" ;; "
                                 "esac; done\nexit 0\n");
    QFile::setPermissions(fakes + "/pandoc", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("QUORVENDA_PANDOC", (fakes + "/pandoc").toUtf8());
    Capabilities::shared().refreshExternalApps(true);
    const QString cut = failureOf(docx, work);
    qunsetenv("QUORVENDA_PANDOC");
    Capabilities::shared().refreshExternalApps(true);
    EXPECT_EQ(cut, "This document couldn't be read");

    SmallDisk disk(256 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    ASSERT_TRUE(disk.fillLeaving(16 * 1024));
    EXPECT_EQ(failureOf(docx, disk.path()), "Not enough disk space");
}
