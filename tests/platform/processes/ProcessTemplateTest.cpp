#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QUuid>

namespace {

struct Reports {
    QJsonObject host;
    QJsonObject templated;
    QJsonObject executed;
};

// Runs the probe with a secret in its environment, under either kind of sandbox.
Reports probe(bool namespaces, bool killTemplate = false)
{
    const QByteArray secret = "Qv" + QUuid::createUuid().toByteArray(QUuid::Id128);
    QByteArray flipped = secret;
    flipped[0] = 'q';
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CALLERS_OWN_TOKEN"), QString::fromLatin1(secret));
    if (!namespaces)
        environment.insert(QStringLiteral("QUORVENDA_NO_NAMESPACES"), QStringLiteral("1"));
    program.setProcessEnvironment(environment);
    QStringList arguments;
    if (killTemplate)
        arguments << QStringLiteral("--kill-template");
    arguments << QString::fromLatin1(flipped);
    program.start(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_template_probe"), arguments);
    EXPECT_TRUE(program.waitForFinished(120000));
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().constData();
    const QList<QByteArray> lines = program.readAllStandardOutput().trimmed().split('\n');
    EXPECT_EQ(lines.size(), 3);
    const auto object = [&](int i) { return QJsonDocument::fromJson(lines.value(i)).object(); };
    return {object(0), object(1), object(2)};
}

void expectTheSameWalls(const Reports& reports, bool namespaces)
{
    ASSERT_FALSE(reports.executed.isEmpty());
    ASSERT_FALSE(reports.templated.isEmpty());
    // What differs between the two starts is only how: every wall is the same.
    for (const char* key : {"CapInh", "CapPrm", "CapEff", "CapBnd", "CapAmb", "NoNewPrivs", "Seccomp", "SigBlk",
                            "SigIgn", "THP_enabled", "fds", "ownGroup", "ownUserNamespace", "inheritedReads"})
        EXPECT_EQ(reports.templated.value(QLatin1String(key)), reports.executed.value(QLatin1String(key)))
            << key << " " << QJsonDocument(reports.templated).toJson().constData() << QJsonDocument(reports.executed).toJson().constData();
    QStringList executedEnvironment;
    for (const QJsonValue& entry : reports.executed.value(QStringLiteral("environment")).toArray())
        executedEnvironment << entry.toString();
    QStringList templatedEnvironment;
    for (const QJsonValue& entry : reports.templated.value(QStringLiteral("environment")).toArray())
        templatedEnvironment << entry.toString();
    executedEnvironment.sort();
    templatedEnvironment.sort();
    EXPECT_EQ(templatedEnvironment, executedEnvironment);
    EXPECT_EQ(reports.executed.value(QStringLiteral("ownUserNamespace")).toBool(), namespaces);
    EXPECT_TRUE(reports.executed.value(QStringLiteral("inheritedReads")).toBool());
    // Only standard input, output and error, and the descriptor it was given: never the
    // template's socket, through which it could start programs of its own.
    EXPECT_EQ(reports.templated.value(QStringLiteral("fds")).toArray().size(), 4);
}

} // namespace

TEST(ProcessTemplate, AProgramStartedWithoutAnExecHasEveryWallOfAnExecutedOneAndNothingOfItsCaller)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under the sanitizers programs are always executed";
#endif
    for (const bool namespaces : {true, false}) {
        SCOPED_TRACE(namespaces ? "in namespaces" : "under a keeper");
        const Reports reports = probe(namespaces);
        EXPECT_TRUE(reports.host.value(QStringLiteral("templateForked")).toBool());
        // The caller holds the secret; the scan would see it.
        EXPECT_TRUE(reports.host.value(QStringLiteral("callerSecretFound")).toBool());
        expectTheSameWalls(reports, namespaces);
        // Started by the template, in a copy of the caller's start: its arguments and
        // environment were wiped there.
        EXPECT_TRUE(reports.templated.value(QStringLiteral("commandLineWiped")).toBool());
        EXPECT_FALSE(reports.executed.value(QStringLiteral("commandLineWiped")).toBool());
        EXPECT_FALSE(reports.templated.value(QStringLiteral("callerSecretFound")).toBool());
        EXPECT_FALSE(reports.executed.value(QStringLiteral("callerSecretFound")).toBool());
    }
}

TEST(ProcessTemplate, AProgramIsExecutedOnceTheTemplateIsGone)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under the sanitizers programs are always executed";
#endif
    const Reports reports = probe(true, true);
    EXPECT_TRUE(reports.host.value(QStringLiteral("templateForked")).toBool());
    expectTheSameWalls(reports, true);
    EXPECT_FALSE(reports.templated.value(QStringLiteral("commandLineWiped")).toBool());
}

TEST(ProcessTemplate, TheCallerDoesWithoutHugePagesItsProgramsKeep)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under the sanitizers programs are always executed";
#endif
    QFile status(QStringLiteral("/proc/self/status"));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    if (!status.readAll().contains("THP_enabled:\t1"))
        GTEST_SKIP() << "this kernel gives this process no huge pages";
    for (const bool killTemplate : {false, true}) {
        SCOPED_TRACE(killTemplate ? "the template gone" : "the template serving");
        const Reports reports = probe(true, killTemplate);
        ASSERT_TRUE(reports.host.value(QStringLiteral("hugePagesKept")).toBool());
        EXPECT_EQ(reports.host.value(QStringLiteral("THP_enabled")).toString(), QStringLiteral("0"));
        // The template was forked before; a program executed after gets them back.
        EXPECT_EQ(reports.templated.value(QStringLiteral("THP_enabled")).toString(), QStringLiteral("1"));
        EXPECT_EQ(reports.executed.value(QStringLiteral("THP_enabled")).toString(), QStringLiteral("1"));
    }
}
