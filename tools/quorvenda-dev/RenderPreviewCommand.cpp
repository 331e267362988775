#include "Commands.h"
#include "PngFile.h"

#include "app/preview/DocumentPreview.h"
#include "app/preview/PreviewWindow.h"
#include "model/settings/SettingsDefaults.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextEdit>
#include <QTextStream>
#include <QThread>

namespace qv::dev {

namespace {

int renderPreviewUsage()
{
    QTextStream(stderr) << "usage: quorvenda-dev render-preview FILE... --out FILE.png [--index N] [--size WxH]\n";
    return 2;
}

QString stateName(DocumentPreview::State state)
{
    switch (state) {
    case DocumentPreview::State::reading: return QStringLiteral("reading");
    case DocumentPreview::State::shown: return QStringLiteral("shown");
    case DocumentPreview::State::unreadable: return QStringLiteral("unreadable");
    }
    return {};
}

} // namespace

int renderPreview(const QStringList& args)
{
    QString out;
    int index = 0;
    QSize size(720, 540);
    QList<QUrl> files;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--out") && hasValue) {
            out = args[++i];
        } else if (arg == QLatin1String("--index") && hasValue) {
            bool ok = false;
            index = args[++i].toInt(&ok);
            if (!ok || index < 0)
                return renderPreviewUsage();
        } else if (arg == QLatin1String("--size") && hasValue) {
            const QStringList parts = args[++i].split(QLatin1Char('x'));
            if (parts.size() != 2 || parts[0].toInt() < 200 || parts[1].toInt() < 150 || parts[0].toInt() > 4000
                || parts[1].toInt() > 4000)
                return renderPreviewUsage();
            size = QSize(parts[0].toInt(), parts[1].toInt());
        } else if (arg.startsWith(QLatin1String("--"))) {
            return renderPreviewUsage();
        } else {
            const QUrl url = fileUrl(arg);
            if (url.isEmpty())
                return 2;
            files.append(url);
        }
    }
    if (out.isEmpty() || files.isEmpty() || index >= files.size())
        return renderPreviewUsage();

    registerDefaultSettings();
    // Laid out and shown as on screen, without a window appearing.
    PreviewWindow window;
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.resize(size);
    window.setItems(files);
    window.setCurrentIndex(index);
    window.show();
    // A document is read in a worker: its text, or the sign that it cannot be read, comes later.
    auto* document = qobject_cast<DocumentPreview*>(window.contentView());
    QElapsedTimer waited;
    waited.start();
    while (document && document->state() == DocumentPreview::State::reading && waited.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
    const QImage image = window.grab().toImage();
    if (!writePng(image, out))
        return 1;
    QJsonObject report{{QStringLiteral("out"), out},
                       {QStringLiteral("width"), image.width()},
                       {QStringLiteral("height"), image.height()},
                       {QStringLiteral("title"), window.windowTitle()},
                       {QStringLiteral("position"), window.positionText()}};
    if (document) {
        report.insert(QStringLiteral("state"), stateName(document->state()));
        const QRect content = window.contentView()->geometry();
        report.insert(QStringLiteral("contentWidth"), content.width());
        report.insert(QStringLiteral("contentHeight"), content.height());
        report.insert(QStringLiteral("text"), document->textView()->toPlainText().left(4000));
        report.insert(QStringLiteral("html"), document->textView()->document()->toHtml().size() > 200000
                                                  ? QString()
                                                  : document->textView()->document()->toHtml());
    }
    QTextStream(stdout) << QJsonDocument(report).toJson(QJsonDocument::Compact) << "\n";
    return 0;
}

} // namespace qv::dev
