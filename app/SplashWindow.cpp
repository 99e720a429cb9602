#include "app/SplashWindow.h"

#include <QPaintEvent>
#include <QPainter>

const QImage* g_pSplashPicture = nullptr;

CSplashWindow::CSplashWindow(const QRect& rect)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("SplashWindow"));
    setWindowTitle(QStringLiteral("SplashWindow"));
    // Looking at a preview should not take the keyboard from the main
    // window, and the picture is painted over the window colour.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setCursor(Qt::ArrowCursor);
    setGeometry(rect);
    setFixedSize(rect.size());
}

void CSplashWindow::paintEvent(QPaintEvent* /*event*/) {
    if (!g_pSplashPicture) {
        return;
    }
    // The picture at its own size from the top-left corner: whatever lies
    // beyond the window is cut off, never scaled down.
    QPainter painter(this);
    painter.setClipRect(rect());
    painter.drawImage(QRect(QPoint(0, 0), g_pSplashPicture->size()), *g_pSplashPicture);
}
