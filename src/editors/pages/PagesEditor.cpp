#include "editors/pages/PagesEditor.h"

#include "catalogue/isolated/IsolatedPdfReading.h"
#include "editors/EditorActivity.h"
#include "editors/PageArrival.h"
#include "editors/pages/PagesEditorView.h"
#include "editors/pages/PagesModel.h"
#include "editors/PageThumbnailLoader.h"
#include "jobs/Toasts.h"
#include "model/Log.h"
#include "platform/processes/ThreadCall.h"
#include "platform/ui/EditorWindow.h"
#include "platform/ui/WindowPlacement.h"

#include <QPointer>
#include <QThread>

#include <memory>

namespace qv {

namespace {

constexpr int thumbnailWorkers = 3;

struct Opened {
    bool read = false;
    int pageCount = 0;
};

} // namespace

void PagesEditor::open(const FileInfo& file, bool extract, QPointF point, Completion completion)
{
    EditorActivity::begin();
    runInBackground([file, extract, point, completion = std::move(completion)] {
        auto opened = std::make_shared<Opened>();
        try {
            opened->pageCount = IsolatedPdfReading::outline(file.path(), std::nullopt, 0).pageCount;
            opened->read = true;
        } catch (const std::exception& error) {
            qCInfo(appLog) << "Cannot open" << file.name << ":" << error.what();
        }
        postToMainThread([file, extract, point, completion, opened] {
            EditorActivity::end();
            if (!opened->read || opened->pageCount < 1) {
                showToast(QStringLiteral("Couldn't open ") + file.name, QStringLiteral("exclamationmark.triangle"), 3.0);
                return;
            }
            auto* model = new PagesModel(opened->pageCount, extract);
            auto window = std::make_shared<QPointer<EditorWindow>>();
            QPointer<PagesModel> weakModel(model);
            auto* view = new PagesEditorView(
                model, [window] { finishEditor(*window); },
                [window, weakModel, completion] {
                    if (!weakModel)
                        return;
                    const QList<int> order = weakModel->pageOrder();
                    finishEditor(*window);
                    OperationOptions options;
                    options.pageOrder = order;
                    if (completion)
                        completion(options);
                });
            model->setParent(view);
            *window = presentInEditorWindow(
                (extract ? QStringLiteral("Extract Pages from ") : QStringLiteral("Reorder ")) + file.name, true, {},
                view, point);
            // The loader belongs to the view: closing the window stops the rendering.
            auto* loader = new PageThumbnailLoader(file.path(), std::nullopt, opened->pageCount, thumbnailWorkers,
                                                   {PageThumbnailLoader::thumbnailWidth, PageThumbnailLoader::thumbnailHeight},
                                                   view);
            QObject::connect(loader, &PageThumbnailLoader::thumbnailReady, model,
                             [model](int index, const QImage& thumbnail) { model->setThumbnail(index, thumbnail); });
            QObject::connect(view, &PagesEditorView::visiblePagesChanged, loader,
                             [loader, view] { loader->prioritise(view->visiblePages()); });
            loader->prioritise(view->visiblePages());
            showBusyUntilPagesArrive(view, loader);
            loader->start();
        });
    });
}

} // namespace qv
