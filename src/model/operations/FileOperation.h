#pragma once

#include <QList>
#include <QUrl>

#include <functional>

namespace qv {

class OutputPlanner;
class Progress;

// A runnable operation: from the input files to the results it placed. Runs on a worker
// thread and may throw.
class FileOperation {
public:
    virtual ~FileOperation() = default;
    virtual QList<QUrl> run(const QList<QUrl>& inputs, OutputPlanner& planner,
                            Progress& progress) = 0;
};

// The one kind of FileOperation: a function that captured what it needs of its context.
class BlockOperation : public FileOperation {
public:
    using Body = std::function<QList<QUrl>(const QList<QUrl>&, OutputPlanner&, Progress&)>;

    explicit BlockOperation(Body body) : m_body(std::move(body)) {}

    QList<QUrl> run(const QList<QUrl>& inputs, OutputPlanner& planner, Progress& progress) override
    {
        return m_body(inputs, planner, progress);
    }

private:
    Body m_body;
};

} // namespace qv
