#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

class SettingsCommand : public ::testing::Test {
protected:
    struct Run {
        int exitCode = -1;
        QString output;
    };

    // The driver with settings of its own; a limit runs it under prlimit.
    Run driver(const QStringList& args, const QStringList& limit = {},
               const QProcessEnvironment& extra = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUORVENDA_SETTINGS_FILE"), settingsFile());
        env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
        for (const QString& key : extra.keys())
            env.insert(key, extra.value(key));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList command{QStringLiteral(QV_BUILD_DIR "/quorvenda-dev")};
        command += args;
        if (limit.isEmpty())
            process.start(command.first(), command.mid(1));
        else
            process.start(QStringLiteral("prlimit"), limit + QStringList{QStringLiteral("--")} + command);
        Run run;
        if (!process.waitForFinished(60000))
            return run;
        run.output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return run;
    }

    QString settingsFile() const { return dir.filePath(QStringLiteral("settings.json")); }
    QString path(const QString& name) const { return dir.filePath(name); }

    QJsonObject storedSettings() const
    {
        QFile file(settingsFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    void writeSettings(const QJsonObject& object)
    {
        QFile file(settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(object).toJson());
    }

    QTemporaryDir dir;
};

TEST_F(SettingsCommand, ExportImportAndResetPrintTheTabsLine)
{
    const QString out = path(QStringLiteral("out.json"));
    Run run = driver({QStringLiteral("settings"), QStringLiteral("export"), out});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "Exported 36 settings");
    EXPECT_EQ(QJsonDocument::fromJson(readFile(out)).object().size(), 36);

    writeSettings({{QStringLiteral("quorvenda.finderHotkey"),
                    QJsonObject{{QStringLiteral("$data"),
                                 QString::fromLatin1(QByteArray("{\"carbonModifiers\":768,\"keyCode\":0}").toBase64())}}},
                   {QStringLiteral("quorvenda.options.tool.image.compress"),
                    QJsonObject{{QStringLiteral("$data"), QStringLiteral("eyJxdWFsaXR5IjowLjV9")}}},
                   {QStringLiteral("quorvenda.state.recentResults"), QJsonArray{QStringLiteral("/tmp/a")}}});
    const QJsonObject before = storedSettings();
    run = driver({QStringLiteral("settings"), QStringLiteral("export"), out});
    EXPECT_EQ(run.output, "Exported 38 settings");
    QFile::remove(settingsFile());
    run = driver({QStringLiteral("settings"), QStringLiteral("import"), out});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "Imported 38 settings");
    const QJsonObject after = storedSettings();
    EXPECT_EQ(after.value(QStringLiteral("quorvenda.finderHotkey")), before.value(QStringLiteral("quorvenda.finderHotkey")));
    EXPECT_EQ(after.value(QStringLiteral("quorvenda.options.tool.image.compress")),
              before.value(QStringLiteral("quorvenda.options.tool.image.compress")));
    EXPECT_FALSE(after.contains(QStringLiteral("quorvenda.state.recentResults")));

    QJsonObject withOthers = after;
    withOthers.insert(QStringLiteral("quorvenda.onboardingDone"), true);
    withOthers.insert(QStringLiteral("window.QuorvendaSettings"), QJsonObject{{QStringLiteral("x"), 5}});
    writeSettings(withOthers);
    run = driver({QStringLiteral("settings"), QStringLiteral("reset")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "Settings were reset");
    QStringList ours;
    const QJsonObject reset = storedSettings();
    for (const QString& key : reset.keys()) {
        if (key.startsWith(QStringLiteral("quorvenda.")))
            ours.append(key);
    }
    EXPECT_EQ(ours, QStringList{QStringLiteral("quorvenda.onboardingDone")});
    EXPECT_TRUE(reset.contains(QStringLiteral("window.QuorvendaSettings")));
}

TEST_F(SettingsCommand, BadImportsChangeNothing)
{
    writeSettings({{QStringLiteral("quorvenda.sounds"), false}});
    const QByteArray before = readFile(settingsFile());
    const QString array = path(QStringLiteral("array.json"));
    writeFile(array, "[1, 2]");
    Run run = driver({QStringLiteral("settings"), QStringLiteral("import"), array});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "That file isn't a Quorvenda settings export");
    const QString text = path(QStringLiteral("text.json"));
    writeFile(text, "sounds: off");
    run = driver({QStringLiteral("settings"), QStringLiteral("import"), text});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.output.startsWith(QStringLiteral("Couldn't import: "))) << run.output.toStdString();
    EXPECT_EQ(storedSettings().value(QStringLiteral("quorvenda.sounds")), QJsonValue(false));
    EXPECT_EQ(storedSettings().size(), 1);
}

TEST_F(SettingsCommand, AnExportCutShortByAFileSizeLimitKeepsTheOldFile)
{
    QJsonObject many;
    for (int i = 0; i < 2000; ++i)
        many.insert(QStringLiteral("quorvenda.options.op%1").arg(i),
                    QJsonObject{{QStringLiteral("$data"), QString(400, QLatin1Char('A'))}});
    writeSettings(many);
    const QString out = path(QStringLiteral("export/out.json"));
    QDir().mkpath(path(QStringLiteral("export")));
    writeFile(out, "the old export\n");
    const Run run = driver({QStringLiteral("settings"), QStringLiteral("export"), out},
                           {QStringLiteral("--fsize=200000")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.output.startsWith(QStringLiteral("Couldn't export: "))) << run.output.toStdString();
    EXPECT_EQ(readFile(out), "the old export\n");
    EXPECT_EQ(QDir(path(QStringLiteral("export"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("out.json")});
}

TEST_F(SettingsCommand, RenderDrawsEveryTabDifferently)
{
    QList<QImage> pictures;
    for (const QString tab : {"general", "output", "wheels", "quality", "engines", "advanced"}) {
        const QString out = path(tab + QStringLiteral(".png"));
        ASSERT_EQ(driver({QStringLiteral("render-settings"), QStringLiteral("--tab"), tab,
                          QStringLiteral("--out"), out}).exitCode, 0) << tab.toStdString();
        const QImage image(out);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), 560);
        EXPECT_GE(image.height(), 300);
        for (const QImage& other : pictures)
            EXPECT_NE(image, other) << tab.toStdString();
        pictures.append(image);
    }
    EXPECT_EQ(driver({QStringLiteral("render-settings"), QStringLiteral("--tab"), QStringLiteral("colours"),
                      QStringLiteral("--out"), path(QStringLiteral("x.png"))}).exitCode, 2);
}

TEST_F(SettingsCommand, ASlowFFmpegDoesNotHoldTheEnginesTab)
{
    const QString slow = path(QStringLiteral("slow-ffmpeg"));
    writeFile(slow, "#!/bin/sh\nsleep 20\necho 'ffmpeg version 9.9'\n");
    QFile::setPermissions(slow, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment extra;
    extra.insert(QStringLiteral("QUORVENDA_FFMPEG"), slow);
    QElapsedTimer timer;
    timer.start();
    const Run run = driver({QStringLiteral("render-settings"), QStringLiteral("--tab"), QStringLiteral("engines"),
                            QStringLiteral("--out"), path(QStringLiteral("engines.png"))}, {}, extra);
    EXPECT_EQ(run.exitCode, 0);
    // Well short of the fake program's 20 s, whatever the load.
    EXPECT_LT(timer.elapsed(), 15000);
    EXPECT_FALSE(QImage(path(QStringLiteral("engines.png"))).isNull());
}

} // namespace
