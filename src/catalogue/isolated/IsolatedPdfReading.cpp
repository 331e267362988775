#include "catalogue/isolated/IsolatedPdfReading.h"

#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "engines/pdf/PDFDocument.h"
#include "engines/pdf/PDFEngine.h"
#include "engines/pdf/PDFRenderer.h"
#include "jobs/WorkerPool.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"
#include "platform/sandbox/WorkerProtocol.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <deque>
#include <mutex>

namespace qv {

namespace {

// A page count past this is a lie of a damaged file, not a document.
constexpr int pageCountLimit = 1'000'000;
// Documents kept open for the next page: a worker draws one page at a time, and a second
// document serves a window of another file meanwhile.
constexpr std::size_t documentsKept = 2;

qint64 memoryLimit()
{
    const int megabytes = Settings::shared().intValue(SettingsKey::workerMemory);
    return qint64(megabytes >= 256 ? megabytes : 4096) << 20;
}

using Damage = IsolatedPdfReading::Damage;

// A document opened as the editors read it (qpdf and MuPDF agreeing on the pages), or for
// viewing (MuPDF alone, its repairs let pass).
struct OpenedPdf {
    std::shared_ptr<PDFDocument> document;
    std::shared_ptr<PDFRenderer> viewer;

    const PDFRenderer& renderer() const { return document ? document->renderer() : *viewer; }
};

// Opened documents kept for the next page of the same file, so that drawing page after page
// opens it once. Each is lent to one thread at a time, as documents must be.
class OpenDocuments {
public:
    static OpenDocuments& shared()
    {
        // Never destroyed: qpdf's own statics may be gone by then.
        static auto* documents = new OpenDocuments;
        return *documents;
    }

    // The document as it is on disk now: a changed file is opened again.
    template <typename Work>
    auto with(const QString& path, const std::optional<QString>& password, Damage damage, Work work)
    {
        const QFileInfo info(path);
        const QString key = path + QLatin1Char('\n') + QString::number(info.size()) + QLatin1Char('\n')
            + QString::number(info.lastModified().toMSecsSinceEpoch()) + QLatin1Char('\n')
            + QString::number(int(damage)) + (password ? QLatin1Char('+') + *password : QStringLiteral("-"));
        std::optional<OpenedPdf> opened = take(key);
        if (!opened) {
            opened.emplace();
            if (damage == Damage::drawn) {
                opened->viewer = PDFRenderer::openForViewing(path, password);
            } else {
                opened->document = std::make_shared<PDFDocument>(PDFEngine::open(path, password));
                opened->document->renderer(); // MuPDF must read it too
            }
        }
        struct GiveBack {
            OpenDocuments& documents;
            const QString& key;
            OpenedPdf& opened;
            ~GiveBack() { documents.giveBack(key, opened); }
        } giveBack{*this, key, *opened};
        return work(opened->renderer());
    }

private:
    std::optional<OpenedPdf> take(const QString& key)
    {
        std::lock_guard locker(m_lock);
        for (auto it = m_documents.begin(); it != m_documents.end(); ++it) {
            if (it->first == key) {
                OpenedPdf opened = std::move(it->second);
                m_documents.erase(it);
                return opened;
            }
        }
        return std::nullopt;
    }

    void giveBack(const QString& key, const OpenedPdf& opened)
    {
        std::lock_guard locker(m_lock);
        m_documents.emplace_front(key, opened);
        while (m_documents.size() > documentsKept)
            m_documents.pop_back();
    }

    std::mutex m_lock;
    std::deque<std::pair<QString, OpenedPdf>> m_documents;
};

IsolatedPdfReading::Outline readOutline(const QString& path, const std::optional<QString>& password,
                                        int sizedPages, std::stop_token stop, Damage damage)
{
    return OpenDocuments::shared().with(path, password, damage, [&](const PDFRenderer& renderer) {
        IsolatedPdfReading::Outline outline;
        outline.pageCount = renderer.pageCount();
        for (int i = 0; i < std::min(outline.pageCount, sizedPages); ++i) {
            throwIfCancelled(stop);
            QSizeF size;
            try {
                size = renderer.pageSize(i);
            } catch (const EngineError&) {
                // Left empty: the caller shows a blank for it.
            }
            outline.pageSizes.append(size);
        }
        return outline;
    });
}

IsolatedPdfReading::Page readPage(const QString& path, const std::optional<QString>& password, int index,
                                  QSize box, std::stop_token stop, Damage damage)
{
    return OpenDocuments::shared().with(path, password, damage, [&](const PDFRenderer& renderer) {
        if (index < 0 || index >= renderer.pageCount())
            throw EngineError(QStringLiteral("This page couldn't be rendered"),
                              QStringLiteral("No page %1").arg(index + 1));
        const QSizeF size = renderer.pageSize(index);
        const QSize pixels = size.scaled(QSizeF(box), Qt::KeepAspectRatio).toSize().expandedTo(QSize(1, 1));
        IsolatedPdfReading::Page page;
        page.picture = renderer.renderToSize(index, pixels, stop, &page.pageToPixel);
        return page;
    });
}

Damage damageArgument(const QJsonObject& arguments)
{
    return arguments.value(QStringLiteral("drawDamaged")).toBool() ? Damage::drawn : Damage::refused;
}

QJsonObject withDamage(QJsonObject arguments, Damage damage)
{
    if (damage == Damage::drawn)
        arguments.insert(QStringLiteral("drawDamaged"), true);
    return arguments;
}

std::optional<QString> passwordArgument(const QJsonObject& arguments)
{
    const QJsonValue value = arguments.value(QStringLiteral("password"));
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

QJsonObject withPassword(QJsonObject arguments, const std::optional<QString>& password)
{
    if (password)
        arguments.insert(QStringLiteral("password"), *password);
    return arguments;
}

QJsonArray transformToJson(const QTransform& t)
{
    return {t.m11(), t.m12(), t.m13(), t.m21(), t.m22(), t.m23(), t.m31(), t.m32(), t.m33()};
}

std::optional<QTransform> transformFromJson(const QJsonValue& value)
{
    const QJsonArray array = value.toArray();
    if (array.size() != 9)
        return std::nullopt;
    double m[9];
    for (int i = 0; i < 9; ++i) {
        m[i] = array.at(i).toDouble(std::nan(""));
        if (!std::isfinite(m[i]))
            return std::nullopt;
    }
    const QTransform transform(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]);
    if (!transform.isInvertible())
        return std::nullopt;
    return transform;
}

EngineError unreadableAnswer(const QString& name)
{
    return EngineError(QStringLiteral("This file couldn't be read"),
                       QStringLiteral("The worker's answer to %1 makes no sense").arg(name));
}

} // namespace

IsolatedPdfReading::Outline IsolatedPdfReading::outline(const QString& path, const std::optional<QString>& password,
                                                        int sizedPages, std::stop_token stop, Damage damage)
{
    sizedPages = std::max(sizedPages, 0);
    if (!IsolatedReading::isEnabled())
        return readOutline(path, password, sizedPages, stop, damage);
    const QString name = QStringLiteral("pdfOutline");
    const QJsonObject arguments =
        withDamage(withPassword({{QStringLiteral("path"), path}, {QStringLiteral("sized"), sizedPages}}, password),
                   damage);
    const QJsonObject answer = catalogueWorkers().call(name, arguments, stop, memoryLimit());
    Outline outline;
    outline.pageCount = answer.value(QStringLiteral("pages")).toInt(-1);
    if (outline.pageCount < 0 || outline.pageCount > pageCountLimit)
        throw unreadableAnswer(name);
    const QJsonArray sizes = answer.value(QStringLiteral("sizes")).toArray();
    if (sizes.size() != std::min(outline.pageCount, sizedPages))
        throw unreadableAnswer(name);
    for (const QJsonValue& value : sizes) {
        const QJsonArray pair = value.toArray();
        const QSizeF size(pair.at(0).toDouble(), pair.at(1).toDouble());
        outline.pageSizes.append(size.width() > 0 && size.height() > 0 && std::isfinite(size.width())
                                         && std::isfinite(size.height())
                                     ? size
                                     : QSizeF());
    }
    return outline;
}

IsolatedPdfReading::Page IsolatedPdfReading::page(const QString& path, const std::optional<QString>& password,
                                                  int index, QSize box, std::stop_token stop, Damage damage)
{
    if (!IsolatedReading::isEnabled())
        return readPage(path, password, index, box, stop, damage);
    const QString name = QStringLiteral("pdfPage");
    const QJsonObject arguments = withDamage(withPassword({{QStringLiteral("path"), path},
                                                           {QStringLiteral("index"), index},
                                                           {QStringLiteral("width"), box.width()},
                                                           {QStringLiteral("height"), box.height()}},
                                                          password),
                                             damage);
    const QJsonObject answer = catalogueWorkers().call(name, arguments, stop, memoryLimit());
    Page page;
    if (!answer.contains(QStringLiteral("picture")))
        return page; // too large to draw
    std::optional<QImage> picture = WorkerProtocol::pictureFromJson(answer.value(QStringLiteral("picture")));
    const std::optional<QTransform> pageToPixel = transformFromJson(answer.value(QStringLiteral("pageToPixel")));
    if (!picture || !pageToPixel)
        throw unreadableAnswer(name);
    // As drawn here: opaque, and a quarter smaller than the pixels that travel.
    page.picture = picture->convertToFormat(QImage::Format_RGB888);
    page.pageToPixel = *pageToPixel;
    return page;
}

WorkerServer::Calls IsolatedPdfReading::workerCalls()
{
    WorkerServer::Calls calls;
    calls.insert(QStringLiteral("pdfOutline"), [](const QJsonObject& arguments) {
        const Outline outline = readOutline(arguments.value(QStringLiteral("path")).toString(),
                                            passwordArgument(arguments),
                                            std::max(arguments.value(QStringLiteral("sized")).toInt(), 0), {},
                                            damageArgument(arguments));
        QJsonArray sizes;
        for (const QSizeF& size : outline.pageSizes)
            sizes.append(QJsonArray{size.width(), size.height()});
        return QJsonObject{{QStringLiteral("pages"), outline.pageCount}, {QStringLiteral("sizes"), sizes}};
    });
    calls.insert(QStringLiteral("pdfPage"), [](const QJsonObject& arguments) {
        const QSize box(arguments.value(QStringLiteral("width")).toInt(), arguments.value(QStringLiteral("height")).toInt());
        const Page page = readPage(arguments.value(QStringLiteral("path")).toString(), passwordArgument(arguments),
                                   arguments.value(QStringLiteral("index")).toInt(-1), box, {},
                                   damageArgument(arguments));
        if (page.picture.isNull())
            return QJsonObject();
        return QJsonObject{
            {QStringLiteral("picture"), WorkerProtocol::pictureToJson(page.picture, qEnvironmentVariable("TMPDIR"))},
            {QStringLiteral("pageToPixel"), transformToJson(page.pageToPixel)}};
    });
    return calls;
}

} // namespace qv
