#pragma once

#include <QHash>
#include <QTextDocument>
#include <QUrl>

#include <optional>

namespace qv {

// Rich text whose images come only from where it is allowed to look: resources given to it
// by URL, and local files below a root folder (any local file when there is no root, none when
// files are refused). Nothing is fetched from the network.
class ConfinedTextDocument : public QTextDocument {
public:
    enum class Files { none, belowRoot, any };

    explicit ConfinedTextDocument(Files files = Files::none, QString root = {});

    // A resource for an absolute URL; names in the HTML are resolved against the base URL.
    void addKnownResource(const QUrl& url, const QByteArray& bytes);

    static constexpr qint64 maximumResourceBytes = 256LL * 1024 * 1024;

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    Files m_files;
    QString m_root;
    QHash<QUrl, QByteArray> m_known;
};

} // namespace qv
