// The main window's status line: whether a camera is connected and how,
// why a Connect failed, a camera that stopped answering, and the time
// lapse's progress.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <chrono>
#include <cstring>

#include "app/LinkHealth.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "ui_TulkDlg.h"

void CTulkDlg::CreateStatusLine() {
    m_labelStatus = new QLabel(this);
    m_labelStatus->setObjectName(QStringLiteral("statusLine"));
    m_labelStatus->setFrameShape(QFrame::StyledPanel);
    m_labelStatus->setFrameShadow(QFrame::Sunken);
    m_labelStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The window keeps its size whatever the line says.
    m_labelStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ui->layoutRoot->addWidget(m_labelStatus);
    m_labelStatus->setText(QStringLiteral("Not connected"));
    connect(&m_timerStatus, &QTimer::timeout, this, &CTulkDlg::ShowStatus);
    m_timerStatus.setInterval(1000);
}

void CTulkDlg::SetStatusText(const QString& line) {
    m_labelStatus->setText(m_strLastPublication.isEmpty() ? line
                                                          : line + "; " + m_strLastPublication);
}

QString CTulkDlg::StatusLine() const {
    return m_labelStatus ? m_labelStatus->text() : QString();
}

void CTulkDlg::ShowStatus() {
    if (g_bTimeLapseRunning && m_bRunOutage) {
        // The run goes on looking for its camera.
        if (!m_timerStatus.isActive()) {
            m_timerStatus.start();
        }
        const RunTotals totals = m_runTimeLapse.Totals();
        SetStatusText(
            QStringLiteral("Time lapse: %1; looking for it again (%2 %3 taken)")
                .arg(m_strRunOutage)
                .arg(totals.taken)
                .arg(totals.taken == 1 ? QStringLiteral("picture") : QStringLiteral("pictures")));
        return;
    }
    if (!g_bConnected) {
        m_timerStatus.stop();
        SetStatusText(m_strConnectFailure.isEmpty()
                          ? QStringLiteral("Not connected")
                          : QStringLiteral("Not connected: %1").arg(m_strConnectFailure));
        return;
    }
    if (m_bLinkFailing) {
        m_timerStatus.stop();
        SetStatusText(QStringLiteral("Camera not answering: Connect again"));
        return;
    }
    if (!g_bTimeLapseRunning) {
        m_timerStatus.stop();
        SetStatusText(m_strConnected);
        return;
    }
    // The time lapse: a line a second.
    if (!m_timerStatus.isActive()) {
        m_timerStatus.start();
    }
    const RunTotals totals = m_runTimeLapse.Totals();
    const long taken = totals.taken;
    QString line = QStringLiteral("Time lapse: %1 %2 taken")
                       .arg(taken)
                       .arg(taken == 1 ? QStringLiteral("picture") : QStringLiteral("pictures"));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        m_runTimeLapse.NextDue() - std::chrono::steady_clock::now());
    // Tenths while it is close, whole seconds otherwise.
    const double seconds = left.count() < 0 ? 0.0 : left.count() / 1000.0;
    line += seconds < 10
                ? QStringLiteral(", next in %1 s").arg(seconds, 0, 'f', 1)
                : QStringLiteral(", next in %1 s").arg(static_cast<long long>(seconds + 0.5));
    if (DroppedTicks() > 0 && m_nLastStepMs > m_nTimeLapseInterval) {
        line += QStringLiteral("; interval stretched: the last picture took %1 s")
                    .arg(m_nLastStepMs / 1000.0, 0, 'f', 1);
    }
    if (!m_strRunOutage.isEmpty()) {
        line += QStringLiteral("; ") + m_strRunOutage;
    }
    if (!m_strJournal.isEmpty()) {
        line += QStringLiteral("; journal: ") + m_strJournal;
    }
    SetStatusText(line);
}

void CTulkDlg::ShowLinkState() {
    const bool failing = g_bConnected && m_bLinkFailing;
    // The camera's fields say what it said last, which may no longer hold.
    for (QWidget* field :
         {static_cast<QWidget*>(m_editPictures), static_cast<QWidget*>(m_editFramesLeft),
          static_cast<QWidget*>(m_editAvailMem), static_cast<QWidget*>(ui->grpCameraSettings)}) {
        field->setEnabled(!failing);
    }
    ShowStatus();
}

void CTulkDlg::ClearCameraFields() {
    m_editPictures->setText(QStringLiteral("Not connected"));
    m_editFramesLeft->clear();
    m_editAvailMem->setText(QStringLiteral("0"));
    for (QComboBox* list : ui->grpCameraSettings->findChildren<QComboBox*>()) {
        list->setCurrentIndex(-1);
    }
    m_progBattery->reset();
    m_editZoom->SetText(QString());
}
