#pragma once

#include <QHash>
#include <QSet>
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

    // Takes out the images it may not load; returns how many went. Qt's layout reads an image
    // it was refused straight from its name, so a refused one is drawn as an empty pixel
    // until it is taken out: call this after setting the HTML.
    int removeRefusedImages();

    static constexpr qint64 maximumResourceBytes = 256LL * 1024 * 1024;

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    QVariant loadImage(const QUrl& name);

    Files m_files;
    QString m_root;
    QHash<QUrl, QByteArray> m_known;
    QSet<QUrl> m_refused;
};

} // namespace qv
