#include "app/ProgressWindow.h"

#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "camera/transfer_progress.h"

namespace {

// Often enough to read as moving, seldom enough to cost nothing.
constexpr std::chrono::milliseconds kUpdatePeriod{250};

QString Bytes(long bytes) {
    if (bytes < 10 * 1024) {
        return QStringLiteral("%1 bytes").arg(bytes);
    }
    if (bytes < 10 * 1024 * 1024) {
        return QStringLiteral("%1 KB").arg(bytes / 1024.0, 0, 'f', 1);
    }
    return QStringLiteral("%1 MB").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
}

QString Duration(long long seconds) {
    if (seconds < 60) {
        return QStringLiteral("%1 s").arg(seconds);
    }
    return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

}  // namespace

CProgressWindow::CProgressWindow(QWidget* owner, const QString& objectName, const QString& caption)
    : QDialog(owner) {
    setObjectName(objectName);
    setWindowTitle(caption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    m_labelText = new QLabel(this);
    m_labelText->setObjectName(QStringLiteral("labelText"));
    m_labelItem = new QLabel(this);
    m_labelItem->setObjectName(QStringLiteral("labelItem"));
    m_progBytes = new QProgressBar(this);
    m_progBytes->setProperty("id", 1024);
    m_progBytes->setTextVisible(false);
    m_labelDetails = new QLabel(this);
    m_labelDetails->setObjectName(QStringLiteral("labelDetails"));
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    layout->addWidget(m_labelText);
    layout->addWidget(m_labelItem);
    layout->addWidget(m_progBytes);
    layout->addWidget(m_labelDetails);
    layout->addWidget(m_btnCancel, 0, Qt::AlignRight);
    setMinimumWidth(340);
    connect(m_btnCancel, &QPushButton::clicked, this, &CProgressWindow::reject);
    connect(&m_timerUpdate, &QTimer::timeout, this, &CProgressWindow::Update);
    m_timerUpdate.setInterval(kUpdatePeriod);
}

void CProgressWindow::Begin(const QString& text, bool cancel) {
    m_strText = text;
    m_nNumber = 0;
    m_nCount = 0;
    m_bCancelled = false;
    m_nFirstSerial = CurrentTransfer().Snapshot().serial + 1;
    m_btnCancel->setVisible(cancel);
    m_btnCancel->setEnabled(true);
    Update();
    adjustSize();
    show();
    raise();
    m_timerUpdate.start();
}

void CProgressWindow::SetItem(int number, int count) {
    m_nNumber = number;
    m_nCount = count;
    // The item's own transfer is the next one begun: until then the bytes
    // of the one before say nothing about it.
    m_nFirstSerial = CurrentTransfer().Snapshot().serial + 1;
    Update();
}

void CProgressWindow::End() {
    m_timerUpdate.stop();
    hide();
}

void CProgressWindow::reject() {
    // The work stops after the item in hand; the window goes when it has.
    if (!m_bCancelled) {
        m_bCancelled = true;
        m_btnCancel->setEnabled(false);
        emit cancelled();
        Update();
    }
}

QString CProgressWindow::Details(long done, long total, std::chrono::milliseconds elapsed) {
    QString line =
        total > 0 ? QStringLiteral("%1 of %2").arg(Bytes(done), Bytes(total)) : Bytes(done);
    const double seconds = elapsed.count() / 1000.0;
    // A rate from less than half a second of transfer says little.
    if (done > 0 && seconds >= 0.5) {
        const double rate = done / seconds;
        line += QStringLiteral(", %1/s").arg(Bytes(static_cast<long>(rate)));
        if (total > done) {
            const auto left = static_cast<long long>((total - done) / rate + 0.5);
            line += QStringLiteral(", %1 left").arg(Duration(left));
        }
    }
    return line;
}

void CProgressWindow::Update() {
    const TransferSnapshot transfer = CurrentTransfer().Snapshot();
    // Serials wrap; a transfer begun before the window was is not ours.
    const bool ours = static_cast<int>(transfer.serial - m_nFirstSerial) >= 0;
    QString text = m_strText;
    if (m_bCancelled) {
        text += QStringLiteral(" (stopping after this one)");
    }
    m_labelText->setText(text);
    QString item;
    if (ours && !transfer.name.empty()) {
        item = QFileInfo(QString::fromStdString(transfer.name)).fileName();
    }
    if (m_nCount > 0) {
        const QString place = QStringLiteral("%1 of %2").arg(m_nNumber).arg(m_nCount);
        item = item.isEmpty() ? place : QStringLiteral("%1 (%2)").arg(item, place);
    }
    m_labelItem->setText(item);
    m_labelItem->setVisible(!item.isEmpty());
    if (ours && transfer.total > 0) {
        m_progBytes->setRange(0, 1000);
        const long done = transfer.done < transfer.total ? transfer.done : transfer.total;
        m_progBytes->setValue(static_cast<int>(1000.0 * done / transfer.total));
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - transfer.started);
        m_labelDetails->setText(Details(transfer.done, transfer.total, elapsed));
    } else {
        // Nothing measured yet: the bar shows that work goes on.
        m_progBytes->setRange(0, 0);
        m_labelDetails->setText(QString());
    }
    m_labelDetails->setVisible(!m_labelDetails->text().isEmpty());
}
