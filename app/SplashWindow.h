// The splash window: a small borderless window at the top-left corner of the
// screen that shows the last preview picture.
#pragma once

#include <QImage>
#include <QWidget>

// The picture the splash window paints; the main window's, after each load.
// Null while no picture is loaded. Window thread only.
extern const QImage* g_pSplashPicture;

class CSplashWindow : public QWidget {
    Q_OBJECT
public:
    // A popup without caption or border and without a task-bar button, at
    // the rectangle given.
    explicit CSplashWindow(const QRect& rect);

protected:
    void paintEvent(QPaintEvent* event) override;
};
