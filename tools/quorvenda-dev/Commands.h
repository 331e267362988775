#pragma once

#include <QStringList>
#include <QUrl>

namespace qv::dev {

// Each command takes its own arguments and returns the process exit code.
// Users' files are read in worker processes, as the app reads them, unless
// QUORVENDA_IN_PROCESS=1 asks for this process (for benchmarks that weigh the workers' cost).
bool useWorkers();

// The file an argument names: a path (relative to the working folder) or a file URL. An
// argument whose bytes are not UTF-8 comes as a file URL that keeps them, so the name is
// refused rather than read as another file's.
QUrl fileUrl(const QString& argument);

int info(const QStringList& args);
int settings(const QStringList& args);
int capabilities(const QStringList& args);
int wheel(const QStringList& args);
int hudDemo(const QStringList& args);
int run(const QStringList& args);
// Starts the worker a run needs, before the application object is made: it loads meanwhile.
void startRunWorker(const QString& operationId);
int renderWheel(const QStringList& args);
int renderDemo(const QStringList& args);
int renderOnboarding(const QStringList& args);
int renderIcon(const QStringList& args);
int renderPreview(const QStringList& args);
int renderSettings(const QStringList& args);
int action(const QStringList& args);
int document(const QStringList& args);
int edit(const QStringList& args);

} // namespace qv::dev
