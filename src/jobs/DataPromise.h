#pragma once

#include "jobs/FilePromise.h"

#include <QByteArray>
#include <QList>

namespace qv {

// A drop that carried file contents but no path (an image dragged out of a browser): the data
// is written into the receiving folder under the announced name.
class DataPromise : public FilePromise {
public:
    struct Item {
        QString name;     // may be empty: named after its type then
        QString mimeType; // "image/png"
        QByteArray data;
        // Set when the data cannot be kept (too large): the sentence that says so.
        QString refusal = {};
    };

    explicit DataPromise(QList<Item> items);

    QStringList announcedNames() const override;
    void receive(const QString& folder, Reader reader) override;
    QString refusal() const override;

    const QList<Item>& items() const { return m_items; }

private:
    QList<Item> m_items;
};

} // namespace qv
