#include "platform/drags/DragOffer.h"

#include <QMimeDatabase>
#include <QStringDecoder>

namespace qv {

namespace {

const QString kOctetStream = QStringLiteral("application/octet-stream");

const QMimeDatabase& mimeDatabase()
{
    static const QMimeDatabase db;
    return db;
}

bool isImageType(const QString& type)
{
    return type.startsWith(QLatin1String("image/")) && !type.contains(QLatin1Char(';'));
}

// The type a name's extension stands for; empty when it names none we know.
QString typeOfName(const QString& name)
{
    const QList<QMimeType> types = mimeDatabase().mimeTypesForFileName(name);
    return types.isEmpty() ? QString() : types.first().name();
}

bool nameFitsType(const QString& name, const QString& mimeType)
{
    for (const QMimeType& type : mimeDatabase().mimeTypesForFileName(name)) {
        if (type.name() == mimeType || type.inherits(mimeType) || type.aliases().contains(mimeType))
            return true;
    }
    return false;
}

} // namespace

QList<QUrl> DragOffer::localFiles() const
{
    QList<QUrl> files;
    for (const QUrl& uri : uris) {
        if (uri.isLocalFile())
            files.append(uri);
    }
    return files;
}

std::pair<QUrl, QString> DragOffer::parseMozUrl(const QByteArray& body)
{
    QString text;
    // Browsers send UTF-16 (with or without a byte-order mark); Qt and others UTF-8.
    const bool utf16 = body.size() >= 2 && body.size() % 2 == 0
        && (body.startsWith("\xff\xfe") || body.startsWith("\xfe\xff") || body.at(1) == '\0');
    if (utf16) {
        QStringDecoder decode(body.startsWith("\xfe\xff") ? QStringDecoder::Utf16BE
                                                          : QStringDecoder::Utf16LE,
                              QStringDecoder::Flag::Stateless);
        text = decode(body);
        if (text.startsWith(QChar(0xfeff)))
            text.remove(0, 1);
    } else {
        text = QString::fromUtf8(body);
    }
    text.remove(QChar(u'\0'));
    const QStringList lines = text.split(QLatin1Char('\n'));
    const QUrl url(lines.value(0).trimmed(), QUrl::StrictMode);
    return {url.isValid() ? url : QUrl(), lines.value(1).trimmed()};
}

QString DragOffer::fileNameFor(const QString& proposed, const QString& mimeType)
{
    QString name = proposed;
    name = name.mid(std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\'))) + 1);
    name.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    name = name.trimmed();
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        name.clear();
    if (name.isEmpty())
        return {};
    QString suffix = mimeDatabase().suffixForFileName(name);
    if (!mimeType.isEmpty() && mimeType != kOctetStream && !nameFitsType(name, mimeType)) {
        const QString wanted = mimeDatabase().mimeTypeForName(mimeType).preferredSuffix();
        if (!wanted.isEmpty()) {
            if (!suffix.isEmpty())
                name.chop(suffix.size() + 1);
            suffix = wanted;
            name += QLatin1Char('.') + suffix;
        }
    }
    // Room for "name 2.ext" and the like on any file system.
    constexpr int maxLength = 200;
    if (name.size() > maxLength) {
        const int keep = maxLength - (suffix.isEmpty() ? 0 : int(suffix.size()) + 1);
        name = name.left(keep).trimmed() + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    }
    return name;
}

QString DragOffer::imageTypeFor(const QStringList& types, const QString& proposedName)
{
    QString image;
    for (const QString& type : types) {
        if (!isImageType(type))
            continue;
        if (image.isEmpty())
            image = type;
        if (!proposedName.isEmpty() && nameFitsType(proposedName, type))
            return type;
    }
    return image;
}

std::optional<DragOffer::SavableData> DragOffer::savableData() const
{
    if (!localFiles().isEmpty())
        return std::nullopt;

    // The name the source suggests, then the one its address gives, then its title.
    QString proposed = directSaveName;
    auto [webUrl, title] = parseMozUrl(mozUrl);
    if (!webUrl.isValid() || webUrl.isLocalFile()) {
        for (const QUrl& uri : uris) {
            if (!uri.isLocalFile()) {
                webUrl = uri;
                break;
            }
        }
    }
    if (proposed.isEmpty() && webUrl.isValid() && !webUrl.isLocalFile())
        proposed = webUrl.fileName();
    if (proposed.isEmpty() || (typeOfName(proposed).isEmpty() && !title.isEmpty()))
        proposed = title.isEmpty() ? proposed : title;

    const QString image = imageTypeFor(types, proposed);
    if (!image.isEmpty())
        return SavableData{fileNameFor(proposed, image), image, image};

    // Bytes without a type take the type their name says, and are data of no known kind when
    // it says none: what is done to any file can still be done to them.
    if (types.contains(kOctetStream)) {
        const QString name = fileNameFor(proposed, QString());
        const QString type = name.isEmpty() ? QString() : typeOfName(name);
        return SavableData{name, type.isEmpty() ? kOctetStream : type, kOctetStream};
    }
    return std::nullopt;
}

} // namespace qv
