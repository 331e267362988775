#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace qv::test;

TEST(DevDriver, WheelPrintsTheContentOfOneWheel)
{
    const QString driver = QStringLiteral(QV_BUILD_DIR "/quorvenda-dev");
    QByteArray output;
    // Any program stands in for KDE Connect: only whether it is there counts here.
    qputenv("QUORVENDA_KDECONNECT", "/bin/true");
    ASSERT_EQ(runProgram(driver, {QStringLiteral("wheel"), QStringLiteral("actions"),
                                  QStringLiteral("a.jpg"), QStringLiteral("b.pdf")},
                         &output),
              0);
    const QJsonObject json = QJsonDocument::fromJson(output.mid(output.indexOf('{'))).object();
    EXPECT_EQ(json.value(QStringLiteral("kind")).toString(), QStringLiteral("actions"));
    EXPECT_EQ(json.value(QStringLiteral("label")).toString(), QStringLiteral("MIXED"));
    EXPECT_TRUE(json.value(QStringLiteral("message")).isNull());
    EXPECT_TRUE(json.value(QStringLiteral("overflow")).toArray().isEmpty());

    QStringList ids, titles;
    for (const QJsonValue& segment : json.value(QStringLiteral("segments")).toArray()) {
        ids.append(segment[QStringLiteral("id")].toString());
        titles.append(segment[QStringLiteral("title")].toString());
        EXPECT_EQ(segment[QStringLiteral("style")].toString(), QStringLiteral("tool"));
    }
    // A mixed selection names each entry by its group.
    EXPECT_EQ(ids, QStringList({"airDrop", "float", "copy", "move", "copyPath", "terminal",
                                "share", "quickLook"}));
    EXPECT_EQ(titles.first(), QStringLiteral("Send to Device"));
    EXPECT_EQ(titles.last(), QStringLiteral("Preview"));

    // Without KDE Connect, Send to Device is left off the wheel.
    qputenv("QUORVENDA_KDECONNECT", "/nonexistent/kdeconnect-cli");
    QByteArray without;
    ASSERT_EQ(runProgram(driver, {QStringLiteral("wheel"), QStringLiteral("actions"), QStringLiteral("a.jpg"),
                                  QStringLiteral("b.pdf")},
                         &without),
              0);
    qunsetenv("QUORVENDA_KDECONNECT");
    QStringList remaining;
    for (const QJsonValue& segment :
         QJsonDocument::fromJson(without.mid(without.indexOf('{'))).object().value(QStringLiteral("segments")).toArray())
        remaining.append(segment[QStringLiteral("id")].toString());
    EXPECT_FALSE(remaining.contains(QStringLiteral("airDrop"))) << remaining.join(' ').toStdString();
    EXPECT_TRUE(remaining.contains(QStringLiteral("quickLook"))) << remaining.join(' ').toStdString();

    ASSERT_EQ(runProgram(driver, {QStringLiteral("wheel"), QStringLiteral("convert"),
                                  QStringLiteral("a.jpg")},
                         &output),
              0);
    const QJsonObject convert = QJsonDocument::fromJson(output.mid(output.indexOf('{'))).object();
    EXPECT_TRUE(convert.value(QStringLiteral("message")).isNull());
    EXPECT_EQ(convert.value(QStringLiteral("label")).toString(), QStringLiteral("JPG"));

    ASSERT_EQ(runProgram(driver, {QStringLiteral("wheel"), QStringLiteral("convert"),
                                  QStringLiteral("a.nothingknown")},
                         &output),
              0);
    const QJsonObject none = QJsonDocument::fromJson(output.mid(output.indexOf('{'))).object();
    EXPECT_EQ(none.value(QStringLiteral("message")).toString(),
              QStringLiteral("No conversions for this file"));

    EXPECT_EQ(runProgram(driver, {QStringLiteral("wheel"), QStringLiteral("sideways"),
                                  QStringLiteral("a.jpg")}),
              2);
    EXPECT_EQ(runProgram(driver, {QStringLiteral("wheel"), QStringLiteral("tools")}), 2);
}
