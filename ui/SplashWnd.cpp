#include "ui/SplashWnd.h"
#include "ui/Fonts.h"

#include "ui/SplashFrame.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

TfrmSplash::TfrmSplash(QWidget* owner) : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName("frmSplash");
    setFixedSize(452, 340);
    QFont font(WindowFontFamily());
    font.setPixelSize(12);
    setFont(font);

    auto* pnlSpash = new QFrame(this);
    pnlSpash->setObjectName("pnlSpash");
    pnlSpash->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnlSpash->setLineWidth(2);
    pnlSpash->setGeometry(0, 0, 452, 340);
    fraSplash1 = new TfraSplash(pnlSpash);
    fraSplash1->move(2, 2);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void TfrmSplash::SetStatus(const QString& text)
{
    fraSplash1->lblStatus->setText(text);
}
