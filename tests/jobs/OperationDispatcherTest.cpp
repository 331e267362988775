#include "jobs/DataPromise.h"
#include "jobs/JobCenter.h"
#include "jobs/OperationDispatcher.h"
#include "jobs/QuickActions.h"
#include "jobs/Toasts.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/files/LocalFileProbe.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/TestFiles.h"

#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <condition_variable>
#include <mutex>

using namespace qv;
using qv::test::waitFor;

namespace {

struct Recorder : QuickActions, SoundPlayer, JobPresenter, ToastPresenter {
    QStringList calls;
    QList<FeedbackSound> sounds;
    QStringList toasts;
    QList<QUrl> lastUrls;

    void copyFiles(const QList<QUrl>& urls) override { record(QStringLiteral("copy"), urls); }
    void copyPaths(const QList<QUrl>& urls, bool escaped) override
    {
        record(escaped ? QStringLiteral("copyPath escaped") : QStringLiteral("copyPath"), urls);
    }
    void sendToDevice(const QList<QUrl>& urls) override { record(QStringLiteral("airDrop"), urls); }
    void floatFiles(const QList<QUrl>& urls, QPointF p) override
    {
        record(QStringLiteral("float %1,%2").arg(p.x()).arg(p.y()), urls);
    }
    void play(FeedbackSound sound) override { sounds.append(sound); }
    void show(const Toast& toast) override { toasts.append(toast.text); }
    void record(const QString& call, const QList<QUrl>& urls)
    {
        calls.append(call);
        lastUrls = urls;
    }
};

struct SheetCall {
    QString id;
    OperationOptions options;
    bool canRemember = false;
    OperationDispatcher::ApplyAction apply;
};

// A promise whose files arrive only when the test says so.
class ManualPromise : public FilePromise {
public:
    QStringList names;
    Reader reader;
    QString folder;
    QStringList announcedNames() const override { return names; }
    void receive(const QString& f, Reader r) override
    {
        folder = f;
        reader = std::move(r);
    }
};

class DispatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Received files go to a temporary root of the test's own.
        savedCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("cache"))));
        registerDefaultSettings(store);
        center = std::make_unique<JobCenter>(store, clock,
                                             JobCenter::Services{&recorder, nullptr, nullptr, nullptr,
                                                                 nullptr, nullptr});
        OperationDispatcher::Hooks hooks;
        hooks.jobCenter = center.get();
        hooks.sounds = &recorder;
        hooks.quickActions = &recorder;
        hooks.loadOptions = [this](const QString& id) {
            loadedFor.append(id);
            OperationOptions remembered;
            remembered.quality = 0.4;
            return remembered;
        };
        hooks.openEditor = [this](EditorKind kind, const WheelEntry&, const QList<FileInfo>& files, QPointF) {
            editors.append(toString(kind) + QStringLiteral(" %1").arg(files.size()));
        };
        hooks.presentSheet = [this](const OperationDescriptor& d, const OperationOptions& options,
                                    bool canRemember, const QList<FileInfo>&, QPointF,
                                    OperationDispatcher::ApplyAction apply) {
            sheets.append({d.id, options, canRemember, std::move(apply)});
        };
        hooks.promiseDeadlineMs = 300;
        dispatcher = std::make_unique<OperationDispatcher>(hooks);
        setToastPresenter(&recorder);
    }
    void TearDown() override
    {
        setToastPresenter(nullptr);
        qputenv("XDG_CACHE_HOME", savedCache);
    }

    WheelEntry entryFor(OperationBehavior behavior, QList<OptionField> fields = {})
    {
        OperationDescriptor d;
        d.id = QStringLiteral("tool.document.test");
        d.verb = QStringLiteral("Testing");
        d.categories = {FileCategory::document};
        d.behavior = behavior;
        d.optionFields = std::move(fields);
        d.multiFile = MultiFileMode::batch;
        d.make = [this](const OperationContext& context) -> std::shared_ptr<FileOperation> {
            std::lock_guard locker(submittedMutex);
            submitted.append(context);
            return std::make_shared<BlockOperation>([](auto&&...) { return QList<QUrl>{}; });
        };
        WheelEntry entry;
        entry.id = d.id;
        entry.operations = {d};
        return entry;
    }

    FileInfo file(const QString& name)
    {
        return fileInfoForURL(QUrl::fromLocalFile(test::writeFile(dir.filePath(name))));
    }

    bool waitForJobs() { return waitFor([&] { return center->jobs().isEmpty(); }); }

    QTemporaryDir dir;
    QByteArray savedCache;
    SettingsStore store{QString()};
    test::FakeClock clock;
    Recorder recorder;
    std::unique_ptr<JobCenter> center;
    std::unique_ptr<OperationDispatcher> dispatcher;
    QStringList loadedFor;
    QStringList editors;
    QList<SheetCall> sheets;
    std::mutex submittedMutex;
    QList<OperationContext> submitted;
};

} // namespace

TEST_F(DispatcherTest, RunBehaviour)
{
    const FileInfo a = file(QStringLiteral("a.txt"));
    const WheelEntry withFields = entryFor(OperationBehavior::run(), {OptionField::imageQuality});

    dispatcher->dispatchOperation(withFields, {a}, {}, false, QPointF(5, 5));
    ASSERT_TRUE(waitForJobs());
    ASSERT_EQ(submitted.size(), 1);
    EXPECT_EQ(submitted[0].options.quality, 0.4);
    EXPECT_EQ(loadedFor, QStringList{QStringLiteral("tool.document.test")});
    EXPECT_EQ(recorder.sounds, QList<FeedbackSound>{FeedbackSound::dispatch});

    // Option held: the sheet with the remembered options and the remember choice.
    dispatcher->dispatchOperation(withFields, {a}, {}, true, QPointF(5, 5));
    ASSERT_EQ(sheets.size(), 1);
    EXPECT_TRUE(sheets[0].canRemember);
    EXPECT_EQ(sheets[0].options.quality, 0.4);
    EXPECT_EQ(submitted.size(), 1);
    OperationOptions chosen;
    chosen.quality = 0.9;
    chosen.password = QStringLiteral("secret");
    sheets[0].apply(chosen);
    ASSERT_TRUE(waitForJobs());
    ASSERT_EQ(submitted.size(), 2);
    EXPECT_EQ(submitted[1].options.password, QStringLiteral("secret"));

    // No option fields: Option changes nothing.
    dispatcher->dispatchOperation(entryFor(OperationBehavior::run()), {a}, {}, true, QPointF());
    ASSERT_TRUE(waitForJobs());
    EXPECT_EQ(submitted.size(), 3);
    EXPECT_EQ(sheets.size(), 1);
}

TEST_F(DispatcherTest, SheetEditorAndActionBehaviours)
{
    const FileInfo a = file(QStringLiteral("a.txt"));
    const FileInfo b = file(QStringLiteral("b.txt"));

    dispatcher->dispatchOperation(entryFor(OperationBehavior::sheet(), {OptionField::password}), {a}, {},
                                  false, QPointF());
    ASSERT_EQ(sheets.size(), 1);
    EXPECT_FALSE(sheets[0].canRemember);
    EXPECT_TRUE(sheets[0].options.isEmpty());
    EXPECT_TRUE(loadedFor.isEmpty());

    dispatcher->dispatchOperation(entryFor(OperationBehavior::editorOf(EditorKind::crop)), {a, b}, {}, false,
                                  QPointF());
    EXPECT_EQ(editors, QStringList{QStringLiteral("crop 2")});

    dispatcher->dispatchOperation(entryFor(OperationBehavior::actionOf(ActionKind::copyPath)), {a, b}, {},
                                  true, QPointF());
    EXPECT_EQ(recorder.calls.last(), QStringLiteral("copyPath escaped"));
    EXPECT_EQ(recorder.lastUrls, (QList<QUrl>{a.url, b.url}));
    dispatcher->dispatchOperation(entryFor(OperationBehavior::actionOf(ActionKind::sendToDevice)), {a}, {}, true,
                                  QPointF());
    EXPECT_EQ(recorder.calls.last(), QStringLiteral("airDrop"));
    dispatcher->dispatchOperation(entryFor(OperationBehavior::actionOf(ActionKind::float_)), {a}, {}, false,
                                  QPointF(7, 8));
    EXPECT_EQ(recorder.calls.last(), QStringLiteral("float 7,8"));

    // An action with no files: only the sound.
    const int calls = int(recorder.calls.size());
    dispatcher->dispatchOperation(entryFor(OperationBehavior::actionOf(ActionKind::copy)), {}, {}, false,
                                  QPointF());
    EXPECT_EQ(recorder.calls.size(), calls);
    EXPECT_EQ(recorder.sounds.size(), 6);

    // The default quick actions are not there yet and say so.
    OperationDispatcher plain(OperationDispatcher::Hooks{});
    plain.hooks().jobCenter = center.get();
    plain.dispatchOperation(entryFor(OperationBehavior::actionOf(ActionKind::move)), {a}, {}, false, QPointF());
    EXPECT_EQ(recorder.toasts.last(), QStringLiteral("This action isn't available yet"));
}

TEST_F(DispatcherTest, ReceivesPromisedFilesFirst)
{
    auto promise = std::make_shared<DataPromise>(QList<DataPromise::Item>{
        {QStringLiteral("one.txt"), QStringLiteral("text/plain"), "1"},
        {QStringLiteral("../two.txt"), QStringLiteral("text/plain"), "2"},
        {QString(), QStringLiteral("text/plain"), "3"},
    });
    EXPECT_EQ(promise->announcedNames().size(), 3);

    dispatcher->dispatchOperation(entryFor(OperationBehavior::run()), {}, {promise}, false, QPointF(1, 2));
    ASSERT_TRUE(waitFor([&] { return center->jobs().isEmpty() && !submitted.isEmpty(); }));
    ASSERT_EQ(submitted[0].files.size(), 3);
    QStringList names;
    for (const FileInfo& f : submitted[0].files)
        names.append(f.name);
    EXPECT_EQ(names, (QStringList{"one.txt", "two.txt", "Promised File.txt"}));
    // Written inside the promises folder, never beside it.
    const QString folder = submitted[0].files[0].url.adjusted(QUrl::RemoveFilename).toLocalFile();
    EXPECT_TRUE(QFileInfo(folder).fileName().isEmpty() || folder.contains(QStringLiteral("promises-")));
    EXPECT_EQ(recorder.sounds, QList<FeedbackSound>{FeedbackSound::dispatch});

    // Once handed on, the copies are no longer held for good: Clean Up Now removes and counts them.
    ASSERT_TRUE(folder.contains(QStringLiteral("promises-")));
    ASSERT_TRUE(QFileInfo::exists(folder));
    EXPECT_GE(purgeTemporaryItems(0), 1);
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST_F(DispatcherTest, PromiseDeadlineAndCancel)
{
    auto late = std::make_shared<ManualPromise>();
    late->names = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    dispatcher->dispatchOperation(entryFor(OperationBehavior::run()), {}, {late}, false, QPointF());
    ASSERT_EQ(center->activeJobs().size(), 1);
    const std::weak_ptr<Job> placeholder = center->activeJobs().first();
    EXPECT_EQ(center->activeJobs().first()->title(), QStringLiteral("Receiving"));
    EXPECT_EQ(center->activeJobs().first()->fileCount(), 3);
    // Nothing arrives before the deadline.
    ASSERT_TRUE(waitFor([&] { return !recorder.toasts.isEmpty(); }));
    EXPECT_EQ(recorder.toasts.last(), QStringLiteral("The app you dragged from didn't provide the file"));
    EXPECT_TRUE(center->activeJobs().isEmpty());
    EXPECT_TRUE(submitted.isEmpty());
    // Once the reader lets go, nothing keeps the placeholder alive.
    late->reader = nullptr;
    EXPECT_TRUE(waitFor([&] { return placeholder.expired(); }));

    // Cancelling the placeholder abandons the drop, even when files arrive afterwards.
    auto cancelled = std::make_shared<ManualPromise>();
    dispatcher->dispatchOperation(entryFor(OperationBehavior::run()), {}, {cancelled}, false, QPointF());
    ASSERT_EQ(center->activeJobs().size(), 1);
    center->cancel(center->activeJobs().first());
    ASSERT_TRUE(waitFor([&] { return center->activeJobs().isEmpty(); }));
    EXPECT_FALSE(QFileInfo::exists(cancelled->folder));
    QDir().mkpath(cancelled->folder);
    const QString path = test::writeFile(cancelled->folder + QStringLiteral("/late.txt"));
    cancelled->reader(QUrl::fromLocalFile(path), QString());
    QCoreApplication::processEvents();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(submitted.isEmpty());
    EXPECT_EQ(recorder.toasts.size(), 1);
    QDir(cancelled->folder).removeRecursively();
}

namespace {

// The disk as it is, except that looking into a media file waits until the test lets it go.
class GatedMediaProbe : public LocalFileProbe {
public:
    std::optional<MediaStreams> mediaStreams(const QString&) const override
    {
        std::unique_lock lock(mutex);
        askedOnMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        asked = true;
        changed.notify_all();
        // Bounded, so that a look taken on the main thread fails the test instead of hanging it.
        changed.wait_for(lock, std::chrono::seconds(5), [this] { return released; });
        return MediaStreams{true, false};
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    mutable bool asked = false;
    mutable bool askedOnMainThread = false;
    bool released = false;
};

} // namespace

TEST_F(DispatcherTest, ReceivedFilesAreDescribedOffTheMainThread)
{
    const FileProbe& system = FileProbe::system();
    GatedMediaProbe gated;
    FileProbe::installSystem(gated);
    auto promise = std::make_shared<DataPromise>(QList<DataPromise::Item>{
        {QStringLiteral("clip.mp4"), QStringLiteral("video/mp4"), "not really a movie"}});

    dispatcher->dispatchOperation(entryFor(OperationBehavior::run()), {}, {promise}, false, QPointF());
    // The main thread keeps turning while the file is looked into.
    const bool asked = waitFor([&] {
        std::lock_guard lock(gated.mutex);
        return gated.asked;
    });
    const bool onMainThread = gated.askedOnMainThread;
    QElapsedTimer turning;
    turning.start();
    while (turning.elapsed() < 100)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const bool submittedEarly = !submitted.isEmpty();
    gated.release();
    const bool submittedLater = waitFor([&] { return !submitted.isEmpty(); });
    ASSERT_TRUE(waitForJobs());
    FileProbe::installSystem(system);

    ASSERT_TRUE(asked);
    EXPECT_FALSE(onMainThread);
    EXPECT_FALSE(submittedEarly);
    ASSERT_TRUE(submittedLater);
    ASSERT_EQ(submitted[0].files.size(), 1);
    EXPECT_EQ(submitted[0].files[0].name, QStringLiteral("clip.mp4"));
    EXPECT_EQ(submitted[0].files[0].hasAudio, false);
}

TEST_F(DispatcherTest, DataTooLargeToKeepIsRefusedAtOnceWithItsSentence)
{
    DataPromise::Item tooLarge{QStringLiteral("huge.png"), QStringLiteral("image/png"), {},
                               QStringLiteral("The dragged data is larger than 512 MB")};
    auto refused = std::make_shared<DataPromise>(QList<DataPromise::Item>{tooLarge});
    EXPECT_EQ(refused->refusal(), QStringLiteral("The dragged data is larger than 512 MB"));
    dispatcher->dispatchOperation(entryFor(OperationBehavior::run()), {}, {refused}, false, QPointF());
    EXPECT_EQ(recorder.toasts, QStringList{"The dragged data is larger than 512 MB"});
    // No placeholder, no job, no sound: nothing was received.
    EXPECT_TRUE(center->jobs().isEmpty());
    EXPECT_TRUE(recorder.sounds.isEmpty());

    // Beside data that can be kept, the refused item only fails on its own.
    recorder.toasts.clear();
    auto mixed = std::make_shared<DataPromise>(QList<DataPromise::Item>{
        tooLarge, {QStringLiteral("small.txt"), QStringLiteral("text/plain"), "kept", {}}});
    EXPECT_TRUE(mixed->refusal().isEmpty());
    dispatcher->dispatchOperation(entryFor(OperationBehavior::run()), {}, {mixed}, false, QPointF());
    ASSERT_TRUE(waitFor([&] { return !submitted.isEmpty(); }));
    ASSERT_TRUE(waitForJobs());
    ASSERT_EQ(submitted.size(), 1);
    ASSERT_EQ(submitted[0].files.size(), 1);
    EXPECT_EQ(submitted[0].files[0].name, QStringLiteral("small.txt"));
    EXPECT_TRUE(recorder.toasts.isEmpty());
}

TEST_F(DispatcherTest, TheFallbackFolderIsMadeForReceivedFilesBeforeTheirJob)
{
    // A sandboxed worker may write only into folders that exist when it starts.
    const QString fallback = dir.filePath(QStringLiteral("not made yet/Downloads"));
    store.setValue(SettingsKey::fallbackFolder, fallback);
    auto promise = std::make_shared<DataPromise>(QList<DataPromise::Item>{
        {QStringLiteral("photo.txt"), QStringLiteral("text/plain"), "bytes", {}}});
    dispatcher->dispatchOperation(entryFor(OperationBehavior::run()), {}, {promise}, false, QPointF());
    ASSERT_TRUE(waitFor([&] { return !submitted.isEmpty(); }));
    ASSERT_TRUE(waitForJobs());
    EXPECT_TRUE(QFileInfo(fallback).isDir());

    // With results going to a chosen folder, the fallback is not made.
    const QString other = dir.filePath(QStringLiteral("other fallback"));
    store.setValue(SettingsKey::fallbackFolder, other);
    store.setValue(SettingsKey::outputLocation, QStringLiteral("folder"));
    store.setValue(SettingsKey::outputFolder, dir.path());
    submitted.clear();
    dispatcher->dispatchOperation(entryFor(OperationBehavior::run()), {}, {promise}, false, QPointF());
    ASSERT_TRUE(waitFor([&] { return !submitted.isEmpty(); }));
    ASSERT_TRUE(waitForJobs());
    EXPECT_FALSE(QFileInfo::exists(other));
}

// A picture received from a browser may come as a PNG though it was announced as a JPEG: PNG,
// offered for the JPEG, takes none of it, and the user hears why instead of nothing at all.
TEST_F(DispatcherTest, AnEntryThatTakesNoneOfTheFilesSaysSo)
{
    WheelEntry entry = entryFor(OperationBehavior::run());
    entry.id = QStringLiteral("convert.image.png");
    entry.operations.first().categories = {FileCategory::document};
    entry.operations.first().accepts = [](const FileInfo& f) { return f.category == FileCategory::document; };
    dispatcher->dispatchOperation(entry, {file(QStringLiteral("photo.png"))}, {}, false, QPointF());
    ASSERT_TRUE(waitFor([&] { return !recorder.toasts.isEmpty(); }));
    EXPECT_EQ(recorder.toasts.last(), QStringLiteral("This file is already a PNG"));
    dispatcher->dispatchOperation(entry, {file(QStringLiteral("clip.mkv"))}, {}, false, QPointF());
    ASSERT_TRUE(waitFor([&] { return recorder.toasts.size() == 2; }));
    EXPECT_EQ(recorder.toasts.last(), QStringLiteral("This can't be done with this file"));
    EXPECT_TRUE(submitted.isEmpty());
}
