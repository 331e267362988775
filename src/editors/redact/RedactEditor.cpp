#include "editors/redact/RedactEditor.h"

#include "catalogue/isolated/IsolatedPdfReading.h"
#include "editors/EditorActivity.h"
#include "editors/PageArrival.h"
#include "editors/PageThumbnailLoader.h"
#include "editors/redact/RedactEditorView.h"
#include "editors/redact/RedactModel.h"
#include "editors/redact/RedactPageView.h"
#include "jobs/Toasts.h"
#include "model/Log.h"
#include "platform/processes/ThreadCall.h"
#include "platform/ui/EditorWindow.h"
#include "platform/ui/WindowPlacement.h"

#include <QPointer>

#include <memory>

namespace qv {

namespace {

constexpr int pageWorkers = 2;
// Pages are drawn this wide, about the view's width on a double-density screen.
constexpr int pagePixelWidth = 1000;

struct Opened {
    bool read = false;
    // Empty for a page that cannot be read: drawn as a letter-size blank that takes no boxes.
    QList<QSizeF> pageSizes;
};

} // namespace

void RedactEditor::open(const FileInfo& file, QPointF point, Completion completion)
{
    EditorActivity::begin();
    runInBackground([file, point, completion = std::move(completion)] {
        auto opened = std::make_shared<Opened>();
        try {
            opened->pageSizes = IsolatedPdfReading::outline(file.path(), std::nullopt, IsolatedPdfReading::everyPage).pageSizes;
            opened->read = true;
        } catch (const std::exception& error) {
            qCInfo(appLog) << "Cannot open" << file.name << ":" << error.what();
        }
        postToMainThread([file, point, completion, opened] {
            EditorActivity::end();
            if (!opened->read) {
                showToast(QStringLiteral("Couldn't open ") + file.name, QStringLiteral("exclamationmark.triangle"), 3.0);
                return;
            }
            auto* model = new RedactModel;
            auto* pages = new RedactPageView(model, opened->pageSizes);
            auto window = std::make_shared<QPointer<EditorWindow>>();
            QPointer<RedactModel> weakModel(model);
            auto* view = new RedactEditorView(
                model, pages, [window] { finishEditor(*window); },
                [window, weakModel, completion] {
                    if (!weakModel || weakModel->count() == 0)
                        return;
                    const QMap<int, QList<QRectF>> redactions = weakModel->redactions();
                    finishEditor(*window);
                    OperationOptions options;
                    options.redactions = redactions;
                    if (completion)
                        completion(options);
                });
            model->setParent(view);
            *window = presentInEditorWindow(QStringLiteral("Redact ") + file.name, true, {}, view, point);
            auto* loader = new PageThumbnailLoader(file.path(), std::nullopt, int(opened->pageSizes.size()), pageWorkers,
                                                   QSize(pagePixelWidth, 1 << 20), view);
            QObject::connect(loader, &PageThumbnailLoader::thumbnailReady, pages, &RedactPageView::setPicture);
            QObject::connect(view, &RedactEditorView::visiblePagesChanged, loader,
                             [loader, view] { loader->prioritise(view->visiblePages()); });
            loader->prioritise(view->visiblePages());
            showBusyUntilPagesArrive(view, loader);
            loader->start();
        });
    });
}

} // namespace qv
