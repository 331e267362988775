// The application's memory over a day in the tray, measured as the sum of the proportional set
// size (Pss) of this process and every process below it (its workers and their programs).
// This program sets up what the application's start sets up for jobs and windows (system
// services, the worker pool with its warm workers, isolated reading, memory return) and then
// drives it through the same code a user's choices reach:
//   memory: Pss after start; after 25 mixed jobs with each editor, a preview and a float panel
//           opened and closed; after 2 minutes idle (workers retire after 30 s).
//   soak N: N items in jobs of 10 files of four kinds, Pss every 100 items.
// Prints Markdown rows (what | ours | peer | ratio | limit | held). Needs X (DISPLAY), FFmpeg.
#include "app/actions/ActionRunner.h"
#include "app/MemoryReturn.h"
#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "catalogue/isolated/ItemMemoryNeed.h"
#include "catalogue/isolated/WorkerTemplate.h"
#include "platform/processes/HugePageMalloc.h"
#include "catalogue/SystemServices.h"
#include "catalogue/ToolRegistry.h"
#include "editors/EditorLauncher.h"
#include "jobs/Job.h"
#include "jobs/JobCenter.h"
#include "jobs/WorkerPool.h"
#include "model/files/FileInfo.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/desktop/Workspace.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <unistd.h>

using namespace qv;

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

// Each line as it is written: a benchmark of minutes tells where it is.


void pump(int milliseconds)
{
    err.flush();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
}

bool pumpUntil(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
    return true;
}

qint64 pssKilobytes(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// Pss of this process alone and of it with everything below it, in MB.
std::pair<double, double> treePss()
{
    std::multimap<pid_t, pid_t> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            children.emplace(pid_t(fields[1].toInt()), pid);
    }
    const qint64 own = pssKilobytes(::getpid());
    qint64 total = 0;
    QList<pid_t> queue{::getpid()};
    while (!queue.isEmpty()) {
        const pid_t pid = queue.takeFirst();
        total += pssKilobytes(pid);
        const auto [from, to] = children.equal_range(pid);
        for (auto it = from; it != to; ++it)
            queue.append(it->second);
    }
    return {own / 1024.0, total / 1024.0};
}

int processesBelow()
{
    int count = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == ::getpid())
            ++count;
    }
    return count;
}

void row(const QString& what, const QString& ours, const QString& peer, const QString& ratio, const QString& limit,
         bool held)
{
    out << "| " << what << " | " << ours << " | " << peer << " | " << ratio << " | " << limit << " | "
        << (held ? "held" : "missed") << " |\n";
    out.flush();
}

QString mb(double value)
{
    return QString::number(value, 'f', 1) + QStringLiteral(" MB");
}

int ffmpeg(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
}

// The files the jobs and windows read.
struct Inputs {
    QString photo, picture, pdf, movie, sound, text;
};

QImage photoLike(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(90, 140, 220));
    sky.setColorAt(1, QColor(230, 200, 160));
    painter.fillRect(image.rect(), sky);
    QRandomGenerator random(seed);
    for (int i = 0; i < 300; ++i) {
        painter.setBrush(QColor::fromRgb(random.generate()));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(random.bounded(width), random.bounded(height)), random.bounded(width / 20 + 1),
                            random.bounded(height / 20 + 1));
    }
    painter.end();
    return image;
}

QString makePdf(const QString& path, int pages)
{
    QPdfWriter writer(path);
    QPainter painter(&writer);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 24));
        painter.drawText(QRect(200, 200, 8000, 2000), QStringLiteral("Page %1 of the memory benchmark").arg(page + 1));
        painter.drawEllipse(QRect(1000, 3000, 4000, 4000));
    }
    painter.end();
    return path;
}

Inputs makeInputs(const QDir& folder)
{
    Inputs inputs;
    inputs.photo = folder.filePath(QStringLiteral("photo.jpg"));
    photoLike(4000, 3000, 1).save(inputs.photo, "JPEG", 90);
    inputs.picture = folder.filePath(QStringLiteral("picture.png"));
    photoLike(1600, 1200, 2).save(inputs.picture, "PNG");
    inputs.pdf = makePdf(folder.filePath(QStringLiteral("pages.pdf")), 12);
    inputs.movie = folder.filePath(QStringLiteral("movie.mp4"));
    ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=6", "-f", "lavfi", "-i",
            "sine=duration=6", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-shortest", inputs.movie});
    inputs.sound = folder.filePath(QStringLiteral("sound.wav"));
    ffmpeg({"-f", "lavfi", "-i", "sine=frequency=330:duration=5", inputs.sound});
    inputs.text = folder.filePath(QStringLiteral("notes.md"));
    QFile text(inputs.text);
    if (text.open(QIODevice::WriteOnly))
        for (int i = 0; i < 200; ++i)
            text.write(QStringLiteral("# Part %1\n\nSome *text* with a [link](https://example.com) and a list:\n\n- one\n- two\n\n")
                           .arg(i)
                           .toUtf8());
    return inputs;
}

const OperationDescriptor* operation(const QString& id)
{
    for (const OperationDescriptor& d : ToolRegistry::shared().catalogue()) {
        if (d.id == id)
            return &d;
    }
    return nullptr;
}

QList<FileInfo> infos(const QStringList& paths)
{
    QList<FileInfo> files;
    for (const QString& path : paths)
        files.append(fileInfoForURL(QUrl::fromLocalFile(path)));
    return files;
}

// Runs the operation on the files as one job and waits for its end; false when it did not finish.
bool runJob(const QString& id, const QStringList& paths)
{
    const OperationDescriptor* d = operation(id);
    if (!d) {
        err << "no operation " << id << "\n";
        return false;
    }
    const JobPtr job = JobCenter::shared().submit(WheelEntry::forOperation(*d, d->wheel), infos(paths), {}, std::nullopt);
    if (!job) {
        err << id << " was refused for " << paths.join(QLatin1Char(' ')) << "\n";
        return false;
    }
    pumpUntil([&] { return !job->isActive(); }, 600000);
    const bool finished = job->state() == Job::State::finished;
    if (!finished)
        err << id << " ended as " << int(job->state()) << "\n";
    return finished;
}

int visibleWindows()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += widget->isVisible() ? 1 : 0;
    return count;
}

void closeWindows()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            widget->close();
    }
    pump(500);
}

// Opens a window through `open`, lets it load its pictures, and closes it.
void openAndClose(const QString& what, const std::function<void()>& open)
{
    const int before = visibleWindows();
    open();
    if (!pumpUntil([&] { return visibleWindows() > before; }, 30000))
        err << what << ": no window showed\n";
    pump(3000); // thumbnails, the picture, a movie's first frames
    closeWindows();
}

void openEditorOf(EditorKind kind, const QString& path)
{
    const QList<FileInfo> files = infos({path});
    for (const OperationDescriptor& d : ToolRegistry::shared().catalogue()) {
        if (d.behavior.editor == kind && d.applies(files)) {
            openAndClose(QStringLiteral("editor %1").arg(int(kind)),
                         [&] { openEditor(kind, WheelEntry::forOperation(d, d.wheel), files, QPointF(400, 300)); });
            return;
        }
    }
    err << "no editor " << int(kind) << " for " << path << "\n";
}

void setUp()
{
    installSystemServices();
    registerDefaultSettings();
    IsolatedReading::setEnabled(true);
    JobCenter::Services services;
    services.workspace = &Workspace::system();
    services.workers = &catalogueWorkers();
    services.memoryNeed = itemMemoryNeed;
    services.workers->warmUp();
    JobCenter::shared().setServices(services);
    MemoryReturn::install();
}

int memoryRun(const Inputs& inputs)
{
    pumpUntil([] { return catalogueWorkers().idleCount() >= 2; }, 60000);
    pump(3000);
    const auto [startOwn, startAll] = treePss();
    err << "after start: own " << startOwn << " MB, all " << startAll << " MB, " << processesBelow() << " children\n";

    // 25 jobs of every kind of file, and every window once between them.
    const QList<std::pair<QString, QString>> jobs{
        {"convert.image.png", inputs.photo},    {"convert.image.webp", inputs.picture},
        {"convert.image.heic", inputs.photo},   {"tool.image.toPDF", inputs.picture},
        {"tool.pdf.rotate", inputs.pdf},        {"tool.pdf.compress", inputs.pdf},
        {"convert.video.webm", inputs.movie},   {"convert.video.mov", inputs.movie},
        {"convert.audio.mp3", inputs.sound},    {"convert.audio.flac", inputs.sound},
        {"convert.document.html", inputs.text}, {"convert.document.pdf", inputs.text},
        {"tool.pdf.removeMetadata", inputs.pdf},
    };
    const QList<std::function<void()>> windows{
        [&] { openEditorOf(EditorKind::crop, inputs.photo); },
        [&] { openEditorOf(EditorKind::photo, inputs.photo); },
        [&] { openEditorOf(EditorKind::annotate, inputs.photo); },
        [&] { openEditorOf(EditorKind::redact, inputs.pdf); },
        [&] { openEditorOf(EditorKind::pdfReorder, inputs.pdf); },
        [&] { openEditorOf(EditorKind::pdfExtract, inputs.pdf); },
        [&] { openEditorOf(EditorKind::trim, inputs.movie); },
        [&] { openEditorOf(EditorKind::split, inputs.movie); },
        [&] { openAndClose(QStringLiteral("preview"), [&] { ActionRunner::shared().preview({QUrl::fromLocalFile(inputs.photo)}); }); },
        [&] { openAndClose(QStringLiteral("preview of a movie"), [&] { ActionRunner::shared().preview({QUrl::fromLocalFile(inputs.movie)}); }); },
        [&] { openAndClose(QStringLiteral("float"), [&] { ActionRunner::shared().floatFiles({QUrl::fromLocalFile(inputs.photo), QUrl::fromLocalFile(inputs.pdf)}, QPointF(500, 400)); }); },
    };
    int finished = 0;
    for (int i = 0; i < 25; ++i) {
        const auto& [id, path] = jobs[i % jobs.size()];
        finished += runJob(id, {path}) ? 1 : 0;
        if (i < windows.size())
            windows[i]();
    }
    pump(MemoryReturn::delayMs + 1000);
    const auto [busyOwn, busyAll] = treePss();
    err << "after 25 jobs (" << finished << " finished): own " << busyOwn << " MB, all " << busyAll << " MB, "
        << processesBelow() << " children\n";

    pump(120000);
    const auto [idleOwn, idleAll] = treePss();
    err << "after 2 minutes idle: own " << idleOwn << " MB, all " << idleAll << " MB, " << processesBelow()
        << " children\n";

    row(QStringLiteral("Pss, application and workers, after start"), mb(startAll), QStringLiteral("-"),
        QStringLiteral("-"), QStringLiteral("-"), true);
    row(QStringLiteral("Pss, application and workers, after 25 mixed jobs and every editor (%1 finished)").arg(finished),
        mb(busyAll), QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"), true);
    row(QStringLiteral("Pss, application and workers, after 2 minutes idle"), mb(idleAll), QStringLiteral("-"),
        QStringLiteral("-"), QStringLiteral("≤ 40 MB"), idleAll <= 40);
    row(QStringLiteral("Pss, the application's own, after its windows closed, over its start"),
        mb(idleOwn - startOwn), mb(startOwn) + QStringLiteral(" at start"), QStringLiteral("-"),
        QStringLiteral("≤ 20 MB"), idleOwn - startOwn <= 20);
    return 0;
}

int soakRun(const QDir& folder, int items)
{
    // Small files of four kinds, ten to a job.
    QStringList jpegs, pngs, pdfs, sounds;
    for (int i = 0; i < 10; ++i) {
        const QString jpeg = folder.filePath(QStringLiteral("s%1.jpg").arg(i));
        photoLike(800, 600, 10 + i).save(jpeg, "JPEG", 85);
        jpegs << jpeg;
        const QString png = folder.filePath(QStringLiteral("s%1.png").arg(i));
        photoLike(400, 300, 40 + i).save(png, "PNG");
        pngs << png;
        pdfs << makePdf(folder.filePath(QStringLiteral("s%1.pdf").arg(i)), 2);
        const QString sound = folder.filePath(QStringLiteral("s%1.wav").arg(i));
        ffmpeg({"-f", "lavfi", "-i", QStringLiteral("sine=frequency=%1:duration=1").arg(200 + 20 * i), sound});
        sounds << sound;
    }
    const QList<std::pair<QString, QStringList>> kinds{{"convert.image.png", jpegs},
                                                       {"convert.image.webp", pngs},
                                                       {"tool.pdf.rotate", pdfs},
                                                       {"convert.audio.mp3", sounds}};
    pumpUntil([] { return catalogueWorkers().idleCount() >= 2; }, 60000);
    QList<double> samples;
    int done = 0, finished = 0;
    QElapsedTimer clock;
    clock.start();
    while (done < items) {
        const auto& [id, paths] = kinds[(done / 10) % kinds.size()];
        finished += runJob(id, paths) ? 10 : 0;
        done += 10;
        // The results go, so the folder stays as it was.
        for (const QString& name : QDir(folder).entryList(QDir::Files)) {
            if (name.contains(QLatin1Char('(')) || name.contains(QStringLiteral(" 2.")) || !name.startsWith(QLatin1Char('s')))
                QFile::remove(folder.filePath(name));
            else if (!jpegs.contains(folder.filePath(name)) && !pngs.contains(folder.filePath(name))
                     && !pdfs.contains(folder.filePath(name)) && !sounds.contains(folder.filePath(name)))
                QFile::remove(folder.filePath(name));
        }
        if (done % 100 == 0) {
            pump(MemoryReturn::delayMs + 500);
            const auto [own, all] = treePss();
            samples.append(all);
            err << done << " items: " << all << " MB, own " << own << " MB, " << processesBelow() << " children, "
                << clock.elapsed() / 1000 << " s\n";
        }
    }
    if (samples.size() < 3)
        return 1;
    // Flat after warm-up: the last sample against the median of those from 200 items on. One
    // sample against one other measured how many workers happened to wait at the two moments
    // (6 to 11, about 15 MB each), not growth; a leak lifts the last samples over the middle ones.
    QList<double> settled = samples.mid(1);
    std::sort(settled.begin(), settled.end());
    const double middle = settled[settled.size() / 2];
    const double last = samples.last();
    row(QStringLiteral("soak of %1 mixed items (%2 finished): Pss at the end against the median from 200 items on")
            .arg(items)
            .arg(finished),
        mb(last), mb(middle), QString::number(last / middle, 'f', 2), QStringLiteral("1.1"), last / middle <= 1.1);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // As the application does; its Pss is counted with the rest.
    HugePageMalloc::takeFromEnvironment();
    WorkerTemplate::forkAtStart(argc, argv);
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || (args.first() != QLatin1String("memory") && args.first() != QLatin1String("soak"))) {
        err << "usage: bench_app_memory_x11 memory | soak [ITEMS]\n";
        return 2;
    }
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    setUp();
    if (args.first() == QLatin1String("soak"))
        return soakRun(QDir(folder.path()), args.size() > 1 ? args[1].toInt() : 1000);
    return memoryRun(makeInputs(QDir(folder.path())));
}
