#include "DragSourceProcess.h"
#include "X11TestDriver.h"

#include "jobs/JobCenter.h"
#include "jobs/OperationDispatcher.h"
#include "model/Clock.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/settings/SettingsStore.h"
#include "platform/x11/X11DragSource.h"
#include "support/LogCapture.h"
#include "support/RequireX11.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"
#include "wheel/DragWatcher.h"
#include "wheel/ui/WheelController.h"
#include "wheel/ui/WheelPanel.h"
#include "wheel/ui/WheelView.h"

#include <QDir>
#include <QStandardPaths>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <utility>

using namespace qv;
using namespace qv::test;

namespace {

// Generous: these run beside other tests on small machines.
constexpr int timeoutMs = 15000;

// Drags out of test sources that offer data the way browsers do, without a file.
class PromisedDragX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        QV_REQUIRE_X11();
        registerDefaultSettings(store);
        auto owned = std::make_unique<X11DragSource>();
        owned->setReadDeadline(timeoutMs);
        source = owned.get();
        watcher = std::make_unique<DragWatcher>(std::move(owned), store, Clock::system());
        QObject::connect(watcher.get(), &DragWatcher::dragBegan,
                         [this](const QList<QUrl>& urls, const QList<FileInfo>& promised) {
                             beganUrls = urls;
                             promises = promised;
                             ++began;
                         });
        QObject::connect(source, &DragEventSource::dragOfferRead,
                         [this](const DragOffer& offer) {
                             offers.append(offer);
                         });
        watcher->start();
        ASSERT_TRUE(watcher->isAvailable());
        ASSERT_TRUE(input.isOpen());
    }

    void TearDown() override
    {
        if (input.isOpen())
            input.releaseAll();
    }

    // Press on the source and leave its window, as a user dragging a picture out would.
    void dragOutOf(const DragSourceProcess& from, QPoint to)
    {
        input.pressAndDrag(from.centre.x(), from.centre.y());
        const QPoint start = from.centre + QPoint(48, 24);
        for (int step = 1; step <= 10; ++step) {
            const QPoint at = start + (to - start) * step / 10;
            input.moveTo(at.x(), at.y());
            waitFor([] { return false; }, 15);
        }
    }

    QString writeJpeg(const QString& path)
    {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(QColor(200, 120, 40));
        EXPECT_TRUE(image.save(path, "JPEG"));
        return path;
    }

    // A web page's picture as a browser renders it for a drag: as PNG and as JPEG.
    std::pair<QString, QString> writeRenderings(const QTemporaryDir& dir)
    {
        const QString jpeg = writeJpeg(dir.filePath(QStringLiteral("rendered.jpg")));
        const QString png = dir.filePath(QStringLiteral("rendered.png"));
        if (!QImage(jpeg).save(png, "PNG"))
            return {};
        return {png, jpeg};
    }

    // Drags out of the source onto the Convert wheel's PNG and lets go there; `whileOver` runs
    // over the segment before the drop. The outputs of the job that finished, or nothing.
    QList<QUrl> dropOnPng(const DragSourceProcess& from, const std::function<void(WheelController&)>& whileOver)
    {
        JobCenter jobs(store, Clock::system());
        OperationDispatcher::Hooks hooks;
        hooks.jobCenter = &jobs;
        OperationDispatcher dispatcher(hooks);
        WheelController::Services services = WheelController::Services::system();
        services.settings = &store;
        services.refreshExternalApps = {};
        services.nudgePointer = [this] { watcher->nudgePointer(); };
        services.dispatch = [&](const WheelEntry& entry, const QList<FileInfo>& files,
                                const WheelController::Promises& promised, bool optionHeld, QPointF point) {
            dispatcher.dispatchOperation(entry, files, promised, optionHeld, point);
        };
        WheelController controller(services);
        controller.attach(*watcher);
        QList<QUrl> received;
        QObject::connect(&jobs, &JobCenter::jobEnded, [&](const JobPtr& job) {
            if (job->state() == Job::State::finished)
                received = job->outputs();
        });

        const QPoint where(900, 500);
        dragOutOf(from, where);
        EXPECT_TRUE(waitFor([&] { return controller.session() != nullptr; }, timeoutMs));
        input.tap("Shift_L");
        EXPECT_TRUE(waitFor([&] { return controller.isPanelVisible(); }, timeoutMs));
        EXPECT_EQ(controller.currentKind(), WheelKind::convert);

        // The Convert wheel offers what it offers the announced picture: PNG among them.
        WheelView& view = controller.view();
        std::optional<int> pngSegment;
        for (int i = 0; i < 16 && !pngSegment; ++i) {
            const std::optional<WheelSegmentModel> segment = view.segmentModel(WheelTarget::inner(i));
            if (segment && segment->entry && segment->entry->id == QLatin1String("convert.image.png"))
                pngSegment = i;
        }
        if (!pngSegment) {
            ADD_FAILURE() << "no PNG segment on the wheel";
            input.button(false);
            return {};
        }
        EXPECT_TRUE(waitFor([&] {
            return controller.panel().windowHandle() && controller.panel().windowHandle()->isExposed();
        }, timeoutMs));
        const QPoint target =
            view.mapToGlobal(view.toWidget(view.wheelGeometry().labelCenter(*pngSegment))).toPoint();
        for (int step = 1; step <= 10; ++step) {
            const QPoint at = where + (target - where) * step / 10;
            input.moveTo(at.x(), at.y());
            waitFor([] { return false; }, 15);
        }
        // A Qt source tells the target where it is only once the last place was answered, so a
        // slow one may miss the last step: a hand never holds quite still.
        int checks = 0;
        EXPECT_TRUE(waitFor([&] {
            if (view.target() == WheelTarget::inner(*pngSegment))
                return true;
            if (++checks % 20 == 0)
                input.moveTo(target.x() + (checks / 20) % 2, target.y());
            return false;
        }, timeoutMs));
        whileOver(controller);
        input.button(false);
        EXPECT_TRUE(waitFor([&] { return !received.isEmpty(); }, 60000)) << "no result from the drop";
        return received;
    }

    SettingsStore store{QString()};
    X11DragSource* source = nullptr;
    std::unique_ptr<DragWatcher> watcher;
    X11InputDriver input;
    QList<DragOffer> offers;
    int began = 0;
    QList<QUrl> beganUrls;
    QList<FileInfo> promises;
};

} // namespace

TEST_F(PromisedDragX11, BytesWithoutAUriListArePromisedUnderTheNameTheSourceSuggests)
{
    QTemporaryDir dir;
    const QString jpeg = writeJpeg(dir.filePath(QStringLiteral("bytes")));
    DragSourceProcess chromium({QStringLiteral("chromium"), jpeg, QStringLiteral("sunset.jpg")});
    ASSERT_TRUE(chromium.isReady());

    dragOutOf(chromium, QPoint(900, 500));
    ASSERT_TRUE(waitFor([this] { return began == 1; }, timeoutMs));
    EXPECT_TRUE(beganUrls.isEmpty());
    ASSERT_EQ(promises.size(), 1);
    EXPECT_TRUE(promises[0].isPromise);
    EXPECT_EQ(promises[0].name, QStringLiteral("sunset.jpg"));
    EXPECT_EQ(promises[0].category, FileCategory::image);
    ASSERT_EQ(offers.size(), 1);
    EXPECT_TRUE(offers[0].types.contains(QStringLiteral("application/octet-stream")));
    EXPECT_FALSE(offers[0].types.contains(QStringLiteral("text/uri-list")));
    input.button(false);
    ASSERT_TRUE(waitFor([&] { return chromium.dragsEnded() == 1; }, timeoutMs));
}

TEST_F(PromisedDragX11, AFilePromiseWithTheImageBytesIsPromisedAndAnAddressAloneIsNot)
{
    QTemporaryDir dir;
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const QString png = dir.filePath(QStringLiteral("bytes"));
    ASSERT_TRUE(image.save(png, "PNG"));
    DragSourceProcess firefox({QStringLiteral("firefox"), png, QStringLiteral("image/png"),
                               QStringLiteral("https://example.com/photos/cat.png?size=large")});
    ASSERT_TRUE(firefox.isReady());
    dragOutOf(firefox, QPoint(900, 500));
    ASSERT_TRUE(waitFor([this] { return began == 1; }, timeoutMs));
    ASSERT_EQ(promises.size(), 1);
    EXPECT_EQ(promises[0].name, QStringLiteral("cat.png"));
    EXPECT_EQ(promises[0].contentType, QStringLiteral("image/png"));
    EXPECT_EQ(promises[0].category, FileCategory::image);
    ASSERT_EQ(offers.size(), 1);
    EXPECT_TRUE(offers[0].types.contains(QStringLiteral("application/x-moz-file-promise")));
    input.button(false);
    ASSERT_TRUE(waitFor([&] { return firefox.dragsEnded() == 1; }, timeoutMs));

    // A web address without its bytes: read, and nothing opens. Nothing is fetched.
    LogCapture log;
    DragSourceProcess address({QStringLiteral("url"), QStringLiteral("https://example.com/photo.png")});
    ASSERT_TRUE(address.isReady());
    dragOutOf(address, QPoint(900, 500));
    ASSERT_TRUE(waitFor([this] { return offers.size() == 2; }, timeoutMs));
    EXPECT_EQ(offers[1].uris, QList<QUrl>{QUrl(QStringLiteral("https://example.com/photo.png"))});
    EXPECT_EQ(began, 1);
    EXPECT_TRUE(log.contains("quorvenda.drag", "Drag without files ignored"));
    input.button(false);
    ASSERT_TRUE(waitFor([&] { return address.dragsEnded() == 1; }, timeoutMs));
}

// A source with three types or fewer names them only in the XdndEnter it sends the window under
// the pointer: another program's window here, as on any desktop.
TEST_F(PromisedDragX11, ASourceOfThreeTypesOrFewerOpensTheWheel)
{
    QTemporaryDir dir;
    const QString jpeg = writeJpeg(dir.filePath("bytes"));
    QWidget other;
    other.setAcceptDrops(true);
    other.setWindowFlag(Qt::FramelessWindowHint);
    other.setGeometry(700, 300, 400, 400);
    other.show();
    ASSERT_TRUE(waitFor([&] { return other.windowHandle() && other.windowHandle()->isExposed(); }, timeoutMs));

    WheelController::Services services = WheelController::Services::system();
    services.settings = &store;
    services.refreshExternalApps = {};
    services.dispatch = [](const WheelEntry&, const QList<FileInfo>&, const WheelController::Promises&, bool, QPointF) {};
    WheelController controller(services);
    controller.attach(*watcher);

    struct Case {
        QString mode;
        QStringList types;
        QString contentType;
        QString name;
    };
    const QList<Case> cases{
        // A Qt source cannot hand its web address over: the picture goes unnamed.
        {"three", {"image/jpeg", "text/x-moz-url", "text/html"}, "image/jpeg", ""},
        {"bytes", {"application/octet-stream"}, "application/octet-stream", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode.toStdString());
        offers.clear();
        const int before = began;
        DragSourceProcess from({c.mode, jpeg});
        ASSERT_TRUE(from.isReady());
        dragOutOf(from, QPoint(900, 500));
        ASSERT_TRUE(waitFor([&] { return began == before + 1; }, timeoutMs));
        ASSERT_EQ(offers.size(), 1);
        EXPECT_EQ(offers[0].types, c.types);
        ASSERT_EQ(promises.size(), 1);
        EXPECT_EQ(promises[0].contentType, c.contentType);
        EXPECT_EQ(promises[0].name, c.name);
        ASSERT_TRUE(waitFor([&] { return controller.session() != nullptr; }, timeoutMs));
        input.tap("Shift_L");
        EXPECT_TRUE(waitFor([&] { return controller.isPanelVisible(); }, timeoutMs));
        // A picture without a name still shows in the wheel's centre once the drag is over it.
        if (c.mode == QLatin1String("three")) {
            input.moveTo(905, 505);
            EXPECT_TRUE(waitFor([&] {
                const std::optional<QImage> shown = controller.session() ? controller.session()->thumbnail()
                                                                         : std::nullopt;
                if (!shown || shown->isNull())
                    return false;
                const QColor middle = shown->pixelColor(shown->width() / 2, shown->height() / 2);
                return qAbs(middle.red() - 200) < 20 && qAbs(middle.green() - 120) < 20 && qAbs(middle.blue() - 40) < 20;
            }, timeoutMs)) << "no picture of the unnamed picture";
        }
        input.button(false);
        ASSERT_TRUE(waitFor([&] { return from.dragsEnded() == 1; }, timeoutMs));
        ASSERT_TRUE(waitFor([&] { return !controller.isPanelVisible(); }, timeoutMs));
    }
}

TEST_F(PromisedDragX11, APictureDraggedOutOfABrowserIsConvertedIntoTheFallbackFolder)
{
    QTemporaryDir dir;
    QTemporaryDir fallback;
    store.setValue(SettingsKey::fallbackFolder, fallback.path());
    const QString jpeg = writeJpeg(dir.filePath(QStringLiteral("bytes")));
    DragSourceProcess chromium({QStringLiteral("chromium"), jpeg, QStringLiteral("sunset.jpg")});
    ASSERT_TRUE(chromium.isReady());

    // Once the drag reached the wheel, its centre shows the picture the bytes make, not an icon.
    const auto pictured = [](WheelController& controller) {
        const std::optional<QImage> shown = controller.session() ? controller.session()->thumbnail() : std::nullopt;
        if (!shown || shown->isNull())
            return false;
        const QColor middle = shown->pixelColor(shown->width() / 2, shown->height() / 2);
        return qAbs(middle.red() - 200) < 20 && qAbs(middle.green() - 120) < 20 && qAbs(middle.blue() - 40) < 20;
    };
    const QList<QUrl> received = dropOnPng(chromium, [&](WheelController& controller) {
        EXPECT_TRUE(waitFor([&] { return pictured(controller); }, timeoutMs));
    });
    ASSERT_EQ(received.size(), 1);
    const QString result = received.first().toLocalFile();
    EXPECT_EQ(QFileInfo(result).absolutePath(), QDir(fallback.path()).absolutePath());
    EXPECT_EQ(QFileInfo(result).fileName(), QStringLiteral("sunset.png"));
    QImageReader reader(result);
    EXPECT_EQ(reader.format(), QByteArray("png"));
    EXPECT_EQ(reader.size(), QSize(64, 48));
    ASSERT_TRUE(waitFor([&] { return chromium.dragsEnded() == 1; }, timeoutMs));
}

// Firefox offers a web page's picture made into PNG, then into JPEG, and the address names a
// JPEG: the drag is announced as the JPEG, so PNG is on the wheel, and the drop must take the
// JPEG too, which PNG then converts (the PNG rendering would be refused as one already).
TEST_F(PromisedDragX11, ABrowsersPictureOfSeveralRenderingsDroppedOnPngGivesAPng)
{
    QTemporaryDir dir;
    QTemporaryDir fallback;
    store.setValue(SettingsKey::fallbackFolder, fallback.path());
    const auto [png, jpeg] = writeRenderings(dir);
    ASSERT_FALSE(png.isEmpty());
    DragSourceProcess firefox({QStringLiteral("renderings"), png, jpeg,
                               QStringLiteral("http://127.0.0.1:8000/pics/harbour.jpg")});
    ASSERT_TRUE(firefox.isReady());

    const QList<QUrl> received = dropOnPng(firefox, [&](WheelController&) {
        ASSERT_EQ(promises.size(), 1);
        EXPECT_EQ(promises[0].name, QStringLiteral("harbour.jpg"));
    });
    ASSERT_EQ(received.size(), 1);
    const QString result = received.first().toLocalFile();
    EXPECT_EQ(QFileInfo(result).absolutePath(), QDir(fallback.path()).absolutePath());
    EXPECT_EQ(QFileInfo(result).fileName(), QStringLiteral("harbour.png"));
    QByteArray header;
    ASSERT_EQ(runProgram(QStringLiteral("vipsheader"), {QStringLiteral("-f"), QStringLiteral("vips-loader"), result},
                         &header),
              0);
    EXPECT_EQ(header.trimmed(), QByteArray("pngload"));
    QImageReader reader(result);
    EXPECT_EQ(reader.size(), QSize(64, 48));
    ASSERT_TRUE(waitFor([&] { return firefox.dragsEnded() == 1; }, timeoutMs));
}

// A picture dragged out of a GTK browser, with no file behind it, works without a warning or an
// error in the log: a drag of data has no file list, and types it is not asked for are no fault.
TEST_F(PromisedDragX11, ABrowsersPictureDraggedAndDroppedLogsNoWarningOrError)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gjs")).isEmpty())
        GTEST_SKIP() << "needs gjs for the GTK drag source";
    QTemporaryDir dir;
    QTemporaryDir fallback;
    store.setValue(SettingsKey::fallbackFolder, fallback.path());
    const auto [png, jpeg] = writeRenderings(dir);
    ASSERT_FALSE(png.isEmpty());
    LogCapture log;
    DragSourceProcess firefox(QStringLiteral("gjs"),
                              {QStringLiteral(QV_SOURCE_DIR "/tests/support/gtkdragsource/gtk-drag-source.js"),
                               QStringLiteral("--picture"), png, jpeg,
                               QStringLiteral("https://example.com/pics/harbour.jpg")});
    ASSERT_TRUE(firefox.isReady());
    const QList<QUrl> received = dropOnPng(firefox, [](WheelController&) {});
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(QFileInfo(received.first().toLocalFile()).fileName(), QStringLiteral("harbour.png"));
    ASSERT_TRUE(waitFor([&] { return firefox.dragsEnded() == 1; }, timeoutMs));
    for (const LogCapture::Line& line : log.lines()) {
        EXPECT_TRUE(line.type == QtDebugMsg || line.type == QtInfoMsg) << line.category.toStdString() << ": "
                                                                       << line.message.toStdString();
        EXPECT_FALSE(line.message.contains(QLatin1String("error"), Qt::CaseInsensitive))
            << line.category.toStdString() << ": " << line.message.toStdString();
    }
}
