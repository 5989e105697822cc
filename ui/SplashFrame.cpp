#include "ui/SplashFrame.h"
#include "ui/Fonts.h"

#include "app/MainWndTexts.h"
#include "app/Version.h"
#include "qtcore/QtText.h"

#include <QLabel>
#include <QPixmap>

namespace {

QFont PixelFont(const QString& family, int pixels, bool bold, bool italic = false)
{
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

} // namespace

TfraSplash::TfraSplash(QWidget* parent) : QFrame(parent)
{
    setObjectName("fraSplash1");
    setFixedSize(448, 336);

    imgSplash = new QLabel(this);
    imgSplash->setObjectName("imgSplash");
    imgSplash->setGeometry(0, 0, 448, 336);
    imgSplash->setPixmap(QPixmap(QStringLiteral(":/pictures/splash.png")));

    // A plug-in's name may hold an ampersand: shown as it is, never as an accelerator mark.
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setGeometry(12, 200, 416, 20);
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setAlignment(Qt::AlignCenter);
    lblStatus->setFont(PixelFont(WindowFontFamily(), 16, true));
    lblStatus->setStyleSheet(QStringLiteral("color: red; background: transparent;"));

    lblCredit = new QLabel(ToQString(wndtext::kSplashCredit), this);
    lblCredit->setObjectName("lblCredit");
    lblCredit->setGeometry(4, 322, 279, 14);
    lblCredit->setStyleSheet(QStringLiteral("color: #d8dcf0; background: transparent;"));

    lblVersion = new QLabel(this);
    lblVersion->setObjectName("lblVersion");
    lblVersion->setTextFormat(Qt::PlainText);
    lblVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblVersion->setFont(PixelFont(QStringLiteral("Arial"), 16, true, true));
    lblVersion->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    lblVersion->setGeometry(444 - 300, 318, 300, 18); // right edge at 444

    FrameResize();
}

void TfraSplash::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    FrameResize();
}

void TfraSplash::FrameResize()
{
    lblStatus->clear();
    lblVersion->setText(ToQString(wndtext::VersionLabel(FileVersionText())));
}
