// The indicator window of long camera work: "Taking picture , please wait"
// and "Downloading Picture" are both one of these. It says what is being
// done and, while a transfer runs on the link, which file, which of how
// many, the bytes done of the total, the rate and the time left. It reads
// the link's transfer record a few times a second and never waits for the
// link.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <chrono>

class QLabel;
class QProgressBar;
class QPushButton;

class CProgressWindow : public QDialog {
    Q_OBJECT
public:
    CProgressWindow(QWidget* owner, const QString& objectName, const QString& caption);

    // Shows the window with the text; with cancel, a Cancel button that
    // asks the work to stop after the item in hand. Transfers begun from
    // now on are shown.
    void Begin(const QString& text, bool cancel);
    // Which item of how many is in hand, from the next transfer on; count 0
    // shows no "n of N". Call it before the item's work is queued.
    void SetItem(int number, int count);
    // Hides the window.
    void End();
    bool Cancelled() const { return m_bCancelled; }

    // The text of the details line, for a transfer of done of total bytes
    // that has run for elapsed.
    static QString Details(long done, long total, std::chrono::milliseconds elapsed);

signals:
    void cancelled();

protected:
    void reject() override;

private:
    void Update();

    QLabel* m_labelText = nullptr;
    QLabel* m_labelItem = nullptr;
    QProgressBar* m_progBytes = nullptr;
    QLabel* m_labelDetails = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QTimer m_timerUpdate;
    QString m_strText;
    int m_nNumber = 0;
    int m_nCount = 0;
    unsigned m_nFirstSerial = 0;
    bool m_bCancelled = false;
};
