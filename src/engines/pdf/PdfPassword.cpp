#include "engines/pdf/PdfPassword.h"

#include <QList>

#include <qpdf/QUtil.hh>

namespace qv {

namespace {

// RFC 3454 table B.1, commonly mapped to nothing.
bool mapsToNothing(char32_t c)
{
    return c == 0x00AD || c == 0x034F || c == 0x1806 || (c >= 0x180B && c <= 0x180D) || (c >= 0x200B && c <= 0x200D)
        || c == 0x2060 || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF;
}

// RFC 3454 table C.1.2, spaces other than the ASCII one.
bool isOtherSpace(char32_t c)
{
    return c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200B) || c == 0x202F || c == 0x205F || c == 0x3000;
}

} // namespace

QString PdfPassword::saslPrepped(const QString& password)
{
    QString mapped;
    mapped.reserve(password.size());
    for (const uint c : password.toUcs4()) {
        if (isOtherSpace(c))
            mapped.append(QLatin1Char(' '));
        else if (!mapsToNothing(c))
            mapped.append(QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1));
    }
    return mapped.normalized(QString::NormalizationForm_KC);
}

QList<PdfPassword::Candidate> PdfPassword::candidates(const QString& password)
{
    QList<Candidate> tries{{password.toUtf8(), password}};
    const QString prepped = saslPrepped(password);
    if (prepped != password)
        tries.append({prepped.toUtf8(), prepped});
    std::string encoded;
    if (QUtil::utf8_to_pdf_doc(password.toStdString(), encoded, '?')) {
        const QByteArray bytes = QByteArray::fromStdString(encoded);
        if (bytes != tries.first().bytes)
            tries.append({bytes, password});
    }
    return tries;
}

} // namespace qv
