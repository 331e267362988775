#include "model/operations/OperationOptions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <limits>
#include <type_traits>

namespace qv {

namespace {

// Every stored property with its JSON key, in declaration order. Works on const and mutable
// options so encoding and decoding share the one list.
template <typename Options, typename F>
void forEachField(Options& o, F&& f)
{
    f(QLatin1String("quality"), o.quality);
    f(QLatin1String("maxDimension"), o.maxDimension);
    f(QLatin1String("exactSize"), o.exactSize);
    f(QLatin1String("resizeScale"), o.resizeScale);
    f(QLatin1String("lossless"), o.lossless);
    f(QLatin1String("alphaBackground"), o.alphaBackground);
    f(QLatin1String("videoPreset"), o.videoPreset);
    f(QLatin1String("videoCodec"), o.videoCodec);
    f(QLatin1String("maxResolution"), o.maxResolution);
    f(QLatin1String("audioBitrate"), o.audioBitrate);
    f(QLatin1String("sampleRate"), o.sampleRate);
    f(QLatin1String("pdfCompression"), o.pdfCompression);
    f(QLatin1String("dpi"), o.dpi);
    f(QLatin1String("pageSize"), o.pageSize);
    f(QLatin1String("pageRanges"), o.pageRanges);
    f(QLatin1String("split"), o.split);
    f(QLatin1String("password"), o.password);
    f(QLatin1String("rotation"), o.rotation);
    f(QLatin1String("flipHorizontal"), o.flipHorizontal);
    f(QLatin1String("flipVertical"), o.flipVertical);
    f(QLatin1String("cropRect"), o.cropRect);
    f(QLatin1String("trimStart"), o.trimStart);
    f(QLatin1String("trimEnd"), o.trimEnd);
    f(QLatin1String("fastTrim"), o.fastTrim);
    f(QLatin1String("speed"), o.speed);
    f(QLatin1String("fadeIn"), o.fadeIn);
    f(QLatin1String("fadeOut"), o.fadeOut);
    f(QLatin1String("subtitleShiftMilliseconds"), o.subtitleShiftMilliseconds);
    f(QLatin1String("snapshotTime"), o.snapshotTime);
    f(QLatin1String("pageOrder"), o.pageOrder);
    f(QLatin1String("redactions"), o.redactions);
    f(QLatin1String("backgroundColor"), o.backgroundColor);
    f(QLatin1String("mergeLayout"), o.mergeLayout);
    f(QLatin1String("fileOrder"), o.fileOrder);
    f(QLatin1String("photo"), o.photo);
    f(QLatin1String("removeBackground"), o.removeBackground);
    f(QLatin1String("outputFormat"), o.outputFormat);
    f(QLatin1String("stripMetadata"), o.stripMetadata);
    f(QLatin1String("annotations"), o.annotations);
    f(QLatin1String("allSheets"), o.allSheets);
    f(QLatin1String("shellEscapedPaths"), o.shellEscapedPaths);
}

// ---- Writing ----

// Clears `ok` on a number JSON cannot hold; the caller then stores nothing.
struct Writer {
    bool ok = true;

    QJsonValue write(double value)
    {
        if (!std::isfinite(value))
            ok = false;
        return value;
    }
    QJsonValue write(int value) { return value; }
    QJsonValue write(bool value) { return value; }
    QJsonValue write(const QString& value) { return value; }
    template <typename E>
        requires std::is_enum_v<E>
    QJsonValue write(E value)
    {
        return toString(value);
    }
    QJsonValue write(const QPointF& p) { return QJsonArray{write(p.x()), write(p.y())}; }
    QJsonValue write(const QSizeF& s) { return QJsonArray{write(s.width()), write(s.height())}; }
    QJsonValue write(const QRectF& r) { return QJsonArray{write(r.topLeft()), write(r.size())}; }
    QJsonValue write(const PageRange& r) { return QJsonArray{r.lower, r.upper}; }
    QJsonValue write(const QUrl& url) { return url.toString(QUrl::FullyEncoded); }
    template <typename T>
    QJsonValue write(const QList<T>& list)
    {
        QJsonArray array;
        for (const T& item : list)
            array.append(write(item));
        return array;
    }
    QJsonValue write(const QMap<int, QList<QRectF>>& map)
    {
        QJsonObject object;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            object.insert(QString::number(it.key()), write(it.value()));
        return object;
    }
    QJsonValue write(const PhotoAdjustments& p)
    {
        return QJsonObject{{QStringLiteral("exposure"), write(p.exposure)},
                           {QStringLiteral("contrast"), write(p.contrast)},
                           {QStringLiteral("saturation"), write(p.saturation)},
                           {QStringLiteral("warmth"), write(p.warmth)},
                           {QStringLiteral("sharpness"), write(p.sharpness)}};
    }
    QJsonValue write(const Annotation& a)
    {
        QJsonObject object{{QStringLiteral("kind"), write(a.kind)},
                           {QStringLiteral("points"), write(a.points)},
                           {QStringLiteral("colorHex"), a.colorHex},
                           {QStringLiteral("lineWidth"), write(a.lineWidth)}};
        if (a.text)
            object.insert(QStringLiteral("text"), *a.text);
        if (a.fontSize)
            object.insert(QStringLiteral("fontSize"), write(*a.fontSize));
        return object;
    }
    QJsonValue write(const SplitMode& mode)
    {
        const QString underscore = QStringLiteral("_0");
        QJsonObject payload;
        if (auto n = mode.get<SplitMode::EveryNPages>())
            payload.insert(underscore, n->pages);
        else if (auto r = mode.get<SplitMode::Ranges>())
            payload.insert(underscore, write(r->ranges));
        else if (auto p = mode.get<SplitMode::Parts>())
            payload.insert(underscore, p->count);
        else if (auto e = mode.get<SplitMode::Every>())
            payload.insert(QStringLiteral("seconds"), write(e->seconds));
        else if (auto a = mode.get<SplitMode::At>())
            payload.insert(underscore, write(a->times));
        return QJsonObject{{toString(mode.kind()), payload}};
    }
};

// ---- Reading ----

// Reads one value into `out`; on a wrong form records the first error with the path of keys
// that led to it and returns false, which abandons the whole decode.
struct Reader {
    QString error;
    QStringList path;

    bool fail(const QString& what)
    {
        if (error.isEmpty()) {
            error = path.isEmpty() ? what + QLatin1Char('.')
                                   : what + QStringLiteral(" at \"") + path.join(QLatin1Char('.'))
                                       + QStringLiteral("\".");
        }
        return false;
    }

    // Reads `key` of `object` inside the path. A missing key (or null) fails unless optional.
    template <typename T>
    bool readKey(const QJsonObject& object, const QString& key, T& out)
    {
        path.append(key);
        const QJsonValue value = object.value(key);
        const bool ok = (value.isUndefined() || value.isNull()) ? fail(QStringLiteral("Missing value"))
                                                                : read(value, out);
        path.removeLast();
        return ok;
    }
    template <typename T>
    bool readOptionalKey(const QJsonObject& object, const QString& key, std::optional<T>& out)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined() || value.isNull()) {
            out.reset();
            return true;
        }
        path.append(key);
        T item{};
        const bool ok = read(value, item);
        path.removeLast();
        if (ok)
            out = std::move(item);
        return ok;
    }

    bool read(const QJsonValue& v, double& out)
    {
        if (!v.isDouble())
            return fail(QStringLiteral("Expected a number"));
        out = v.toDouble();
        return true;
    }
    bool read(const QJsonValue& v, int& out)
    {
        const double d = v.toDouble();
        if (!v.isDouble() || d != std::trunc(d) || d < std::numeric_limits<int>::min()
            || d > std::numeric_limits<int>::max())
            return fail(QStringLiteral("Expected a whole number"));
        out = static_cast<int>(d);
        return true;
    }
    bool read(const QJsonValue& v, bool& out)
    {
        if (!v.isBool())
            return fail(QStringLiteral("Expected true or false"));
        out = v.toBool();
        return true;
    }
    bool read(const QJsonValue& v, QString& out)
    {
        if (!v.isString())
            return fail(QStringLiteral("Expected a string"));
        out = v.toString();
        return true;
    }
    template <typename E>
        requires std::is_enum_v<E>
    bool read(const QJsonValue& v, E& out)
    {
        QString text;
        if (!read(v, text))
            return false;
        const std::optional<E> value = enumFromString<E>(text);
        if (!value)
            return fail(QStringLiteral("Unknown value \"%1\"").arg(text));
        out = *value;
        return true;
    }
    bool pair(const QJsonValue& v, QJsonValue& first, QJsonValue& second)
    {
        const QJsonArray array = v.toArray();
        if (!v.isArray() || array.size() != 2)
            return fail(QStringLiteral("Expected an array of two values"));
        first = array.at(0);
        second = array.at(1);
        return true;
    }
    bool read(const QJsonValue& v, QPointF& out)
    {
        QJsonValue a, b;
        double x = 0, y = 0;
        if (!pair(v, a, b) || !read(a, x) || !read(b, y))
            return false;
        out = QPointF(x, y);
        return true;
    }
    bool read(const QJsonValue& v, QSizeF& out)
    {
        QJsonValue a, b;
        double w = 0, h = 0;
        if (!pair(v, a, b) || !read(a, w) || !read(b, h))
            return false;
        out = QSizeF(w, h);
        return true;
    }
    bool read(const QJsonValue& v, QRectF& out)
    {
        QJsonValue a, b;
        QPointF origin;
        QSizeF size;
        if (!pair(v, a, b) || !read(a, origin) || !read(b, size))
            return false;
        out = QRectF(origin, size);
        return true;
    }
    bool read(const QJsonValue& v, PageRange& out)
    {
        QJsonValue a, b;
        PageRange range;
        if (!pair(v, a, b) || !read(a, range.lower) || !read(b, range.upper))
            return false;
        if (range.lower > range.upper)
            return fail(QStringLiteral("The lower bound is above the upper bound"));
        out = range;
        return true;
    }
    bool read(const QJsonValue& v, QUrl& out)
    {
        QString text;
        if (!read(v, text))
            return false;
        const QUrl url(text, QUrl::StrictMode);
        if (text.isEmpty() || !url.isValid())
            return fail(QStringLiteral("Invalid URL string"));
        out = url;
        return true;
    }
    template <typename T>
    bool read(const QJsonValue& v, QList<T>& out)
    {
        if (!v.isArray())
            return fail(QStringLiteral("Expected an array"));
        const QJsonArray array = v.toArray();
        QList<T> list;
        list.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i) {
            path.append(QString::number(i));
            T item{};
            const bool ok = read(array.at(i), item);
            path.removeLast();
            if (!ok)
                return false;
            list.append(std::move(item));
        }
        out = std::move(list);
        return true;
    }
    bool object(const QJsonValue& v, QJsonObject& out)
    {
        if (!v.isObject())
            return fail(QStringLiteral("Expected an object"));
        out = v.toObject();
        return true;
    }
    bool read(const QJsonValue& v, QMap<int, QList<QRectF>>& out)
    {
        static const QRegularExpression decimal(QStringLiteral("^-?[0-9]+$"));
        QJsonObject o;
        if (!object(v, o))
            return false;
        QMap<int, QList<QRectF>> map;
        for (auto it = o.constBegin(); it != o.constEnd(); ++it) {
            bool isInt = false;
            const int page = it.key().toInt(&isInt);
            if (!decimal.match(it.key()).hasMatch() || !isInt)
                return fail(QStringLiteral("Expected a page index as key, found \"%1\"").arg(it.key()));
            QList<QRectF> boxes;
            if (!readKey(o, it.key(), boxes))
                return false;
            map.insert(page, boxes);
        }
        out = std::move(map);
        return true;
    }
    bool read(const QJsonValue& v, PhotoAdjustments& out)
    {
        QJsonObject o;
        PhotoAdjustments p;
        if (!object(v, o) || !readKey(o, QStringLiteral("exposure"), p.exposure)
            || !readKey(o, QStringLiteral("contrast"), p.contrast)
            || !readKey(o, QStringLiteral("saturation"), p.saturation)
            || !readKey(o, QStringLiteral("warmth"), p.warmth)
            || !readKey(o, QStringLiteral("sharpness"), p.sharpness))
            return false;
        out = p;
        return true;
    }
    bool read(const QJsonValue& v, Annotation& out)
    {
        QJsonObject o;
        Annotation a;
        if (!object(v, o) || !readKey(o, QStringLiteral("kind"), a.kind)
            || !readKey(o, QStringLiteral("points"), a.points)
            || !readKey(o, QStringLiteral("colorHex"), a.colorHex)
            || !readKey(o, QStringLiteral("lineWidth"), a.lineWidth)
            || !readOptionalKey(o, QStringLiteral("text"), a.text)
            || !readOptionalKey(o, QStringLiteral("fontSize"), a.fontSize))
            return false;
        out = std::move(a);
        return true;
    }
    bool read(const QJsonValue& v, SplitMode& out)
    {
        QJsonObject o;
        if (!object(v, o))
            return false;
        // Only the case names count; any other key is ignored.
        std::optional<SplitMode::Kind> kind;
        int caseKeys = 0;
        for (const QString& key : o.keys()) {
            if (const auto k = enumFromString<SplitMode::Kind>(key)) {
                kind = k;
                ++caseKeys;
            }
        }
        if (caseKeys != 1) {
            if (error.isEmpty())
                error = QStringLiteral("Invalid number of keys found, expected one.");
            return false;
        }

        const QString caseKey = toString(*kind);
        path.append(caseKey);
        QJsonObject payload;
        const bool isObject = object(o.value(caseKey), payload);
        path.removeLast();
        if (!isObject)
            return false;

        const QString underscore = QStringLiteral("_0");
        path.append(caseKey);
        bool ok = true;
        switch (*kind) {
        case SplitMode::Kind::everyPage: out = SplitMode::everyPage(); break;
        case SplitMode::Kind::everyNPages: {
            SplitMode::EveryNPages n;
            if ((ok = readKey(payload, underscore, n.pages)))
                out = n;
            break;
        }
        case SplitMode::Kind::ranges: {
            SplitMode::Ranges r;
            if ((ok = readKey(payload, underscore, r.ranges)))
                out = r;
            break;
        }
        case SplitMode::Kind::parts: {
            SplitMode::Parts p;
            if ((ok = readKey(payload, underscore, p.count)))
                out = p;
            break;
        }
        case SplitMode::Kind::every: {
            SplitMode::Every e;
            if ((ok = readKey(payload, QStringLiteral("seconds"), e.seconds)))
                out = e;
            break;
        }
        case SplitMode::Kind::at: {
            SplitMode::At a;
            if ((ok = readKey(payload, underscore, a.times)))
                out = a;
            break;
        }
        }
        path.removeLast();
        return ok;
    }
};

} // namespace

OperationOptions OperationOptions::withoutPerFileValues() const
{
    OperationOptions copy = *this;
    copy.password.reset();
    copy.cropRect.reset();
    copy.trimStart.reset();
    copy.trimEnd.reset();
    copy.snapshotTime.reset();
    copy.pageOrder.reset();
    copy.redactions.reset();
    copy.fileOrder.reset();
    copy.annotations.reset();
    return copy;
}

std::optional<QByteArray> encodeOperationOptions(const OperationOptions& options)
{
    Writer writer;
    QJsonObject object;
    forEachField(options, [&](QLatin1String key, const auto& field) {
        if (field)
            object.insert(key, writer.write(*field));
    });
    if (!writer.ok)
        return std::nullopt;
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<OperationOptions> decodeOperationOptions(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (error)
            *error = QStringLiteral("The stored options are not a JSON object.");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    Reader reader;
    OperationOptions options;
    bool ok = true;
    forEachField(options, [&](QLatin1String key, auto& field) {
        if (ok)
            ok = reader.readOptionalKey(object, QString(key), field);
    });
    if (!ok) {
        if (error)
            *error = reader.error;
        return std::nullopt;
    }
    return options;
}

QString rememberedOptionsKey(const QString& operationId)
{
    return QStringLiteral("quorvenda.options.") + operationId;
}

} // namespace qv
