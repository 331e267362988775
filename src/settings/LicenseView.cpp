#include "settings/LicenseView.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qv {

LicenseView::LicenseView(std::function<void()> close, const QString& license, QWidget* parent)
    : QDialog(parent), m_text(new QPlainTextEdit(this)), m_done(new QPushButton(QStringLiteral("Done"), this))
{
    setWindowTitle(QStringLiteral("FFmpeg License and Sources"));
    setFixedSize(620, 520);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);
    auto* title = new QLabel(QStringLiteral("FFmpeg License and Sources"), this);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    layout->addWidget(title);
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(11);
    m_text->setFont(mono);
    m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(m_text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_done->setDefault(true);
    buttons->addWidget(m_done);
    layout->addLayout(buttons);
    connect(m_done, &QPushButton::clicked, this, [this, close = std::move(close)] {
        if (close)
            close();
        accept();
    });
    setLicense(license);
}

void LicenseView::setLicense(const QString& license)
{
    m_text->setPlainText(license);
}

QString LicenseView::license() const
{
    return m_text->toPlainText();
}

QString LicenseView::missingText()
{
    return QStringLiteral("The license file is missing from this copy of Quorvenda.");
}

} // namespace qv
