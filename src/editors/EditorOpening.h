#pragma once

#include "editors/EditorActivity.h"
#include "jobs/Toasts.h"
#include "model/files/FileInfo.h"
#include "model/Log.h"
#include "platform/processes/ThreadCall.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace qv {

// Reads what an editor shows away from the GUI thread, then shows it there. A file that cannot
// be read opens nothing: the toast says so. Counts as editor work until it is decided.
template <typename Loaded>
void openWhenLoaded(const FileInfo& file, std::function<Loaded()> load, QString failureToast,
                    std::function<void(Loaded&)> show)
{
    EditorActivity::begin();
    runInBackground([file, load = std::move(load), failureToast = std::move(failureToast),
                     show = std::move(show)]() mutable {
        auto loaded = std::make_shared<std::optional<Loaded>>();
        try {
            *loaded = load();
        } catch (const std::exception& error) {
            qCInfo(appLog) << "Cannot open an editor on" << file.name << ":" << error.what();
        }
        postToMainThread([loaded, failureToast = std::move(failureToast), show = std::move(show)] {
            EditorActivity::end();
            if (!*loaded) {
                showToast(failureToast, QStringLiteral("exclamationmark.triangle"), 3.0);
                return;
            }
            show(**loaded);
        });
    });
}

} // namespace qv
