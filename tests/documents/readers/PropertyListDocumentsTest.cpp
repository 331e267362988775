#include "documents/readers/PropertyListDocuments.h"
#include "model/errors/EngineError.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace qv;

namespace {

QUrl writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    EXPECT_EQ(file.write(bytes), bytes.size());
    file.close();
    return QUrl::fromLocalFile(file.fileName());
}

} // namespace

// Binary property lists keep UTF-16 strings with their length, so U+0000 can stand inside one;
// reading such a string used to abort the program inside libplist. The first two lists were
// written by Python's plistlib, the third is what the fuzzer found.
TEST(PropertyListDocuments, StringsHoldingANulAreReadWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    // {"UTI-Data": {"public.utf8-plain-text": "café\0after"}}
    const QUrl clipping = writeFile(dir, "nul.textClipping", QByteArray::fromBase64(
        "YnBsaXN0MDDRAQJYVVRJLURhdGHRAwRfEBZwdWJsaWMudXRmOC1wbGFpbi10ZXh0agBjAGEAZgDpAAAAYQBmAHQAZQByCAsUFzAAAAAA"
        "AAABAQAAAAAAAAAFAAAAAAAAAAAAAAAAAAAARQ=="));
    const RichTextReader::Result text = PropertyListDocuments::readTextClipping(clipping, QUrl::fromLocalFile(dir.path()), {});
    ASSERT_TRUE(text.document);
    EXPECT_EQ(text.document->toPlainText(), QString::fromUtf8("café") + QChar(0) + QStringLiteral("after"));

    // {"WebMainResource": {"WebResourceData": b"<p>page</p>", "WebResourceURL": "http://a/é\0b"}}
    const QUrl archive = writeFile(dir, "nul.webarchive", QByteArray::fromBase64(
        "YnBsaXN0MDDRAQJfEA9XZWJNYWluUmVzb3VyY2XSAwQFBl8QD1dlYlJlc291cmNlRGF0YV5XZWJSZXNvdXJjZVVSTEs8cD5wYWdlPC9w"
        "PmwAaAB0AHQAcAA6AC8ALwBhAC8A6QAAAGIICx0iNENPAAAAAAAAAQEAAAAAAAAABwAAAAAAAAAAAAAAAAAAAGg="));
    const RichTextReader::Result page = PropertyListDocuments::readWebArchive(archive);
    ASSERT_TRUE(page.document);
    EXPECT_EQ(page.document->toPlainText(), QStringLiteral("page"));

    // The fuzzer's clipping: a UTF-16 plain text of "来爾崡\0p" beside a key that is no type.
    const QUrl found = writeFile(dir, "found.textClipping", QByteArray::fromBase64(
        "YnBsaXN0MDDSAQIDCFhVVEktRGF0YVlVVEktVHlwZXPSBAUGB18QF3B1YmxpYy51dGYxNi1wbGFpbi10ZXh0XxAWcHVibGljLnV0Zjgt"
        "cGxhaW4tPGludGVnZXI+XSEAAABwZWQNCnRleHShBQgNFiAlP1hdawAAAAAAAAEBAAAAAAAAAAkAAAAAAAAAAAAAAAAAAABt"));
    const RichTextReader::Result wide = PropertyListDocuments::readTextClipping(found, QUrl::fromLocalFile(dir.path()), {});
    ASSERT_TRUE(wide.document);
    EXPECT_EQ(wide.document->toPlainText(), QString::fromUtf8("来爾崡") + QChar(0) + QStringLiteral("p"));
}
