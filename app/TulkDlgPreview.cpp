// The main window's preview: "Take A Preview" and "Run Preview" save the
// camera's preview picture into the save folder and show it in the splash
// window.
#include <QApplication>
#include <QByteArrayView>
#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/ProgressWindow.h"
#include "app/SplashWindow.h"
#include "app/TulkDlg.h"
#include "app/TulkState.h"
#include "camera/camera_ops.h"
#include "log/activity_log.h"
#include "log/platform/debug_output.h"

namespace {

constexpr int kRunPreviewPasses = 16;

// A check of ShowSplashPicture that failed: a report for developers on the
// debug channel; the caller decides whether to go on.
void SplashAssert(const char* condition) {
    char line[160];
    std::snprintf(line, sizeof line, "Assertion failed: %s\r\n", condition);
    debug_output(line);
}

void PreviewName(char (&name)[32], int number) {
    std::snprintf(name, sizeof name, "preview%02d.jpg", number);
}

}  // namespace

void CTulkDlg::OnTakePreview() {
    if (!g_bConnected) {
        return;
    }
    char name[32];
    PreviewName(name, 0);
    const int passes = m_chkRunPreview->isChecked() ? kRunPreviewPasses : 1;
    CProgressWindow* progress = DownloadingWindow();
    progress->Begin(QStringLiteral("Taking a preview"), false);
    // preview00.jpg first, then preview15.jpg down to preview01.jpg. The
    // window keeps painting between pictures, but the next press waits
    // until this run has ended.
    int n = kRunPreviewPasses - 1;
    const std::string folder = SaveFolderPath();
    for (int pass = 0; pass < passes; ++pass) {
        if (passes > 1) {
            progress->SetItem(pass + 1, passes);
        }
        const std::string path = folder + name;
        CameraWait([&path] {
            if (g_bConnected) {
                SavePreviewToFile(path.c_str());
            }
        });
        if (!g_bConnected || m_bDestroyed) {
            break;
        }
        ShowSplashPicture(QString::fromStdString(path));
        PreviewName(name, n--);
    }
    progress->End();
}

void CTulkDlg::ShowSplashPicture(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        SplashAssert("INVALID_HANDLE_VALUE != hFile");
        WriteLog("TulkDlg", __LINE__, "Bad handle");
        return;
    }
    const qint64 size = file.size();
    if (size <= 0) {
        WriteLog("TulkDlg", __LINE__, "File size is < 1");
        return;
    }
    std::vector<unsigned char> block;
    try {
        block.resize(static_cast<std::size_t>(size));
    } catch (const std::exception&) {
        // Out of memory, or more than a block can hold.
        SplashAssert("NULL != hGlobal");
        WriteLog("TulkDlg", __LINE__, "Alloc failed");
        return;
    }
    const qint64 read = file.read(reinterpret_cast<char*>(block.data()), size);
    file.close();
    if (read != size) {
        SplashAssert("FALSE != bRead");
        WriteLog("TulkDlg", __LINE__, "Read was < 1");
        return;
    }

    m_gpPicture.reset();
    auto picture = std::make_unique<QImage>();
    if (picture->loadFromData(QByteArrayView(block.data(), static_cast<qsizetype>(block.size()))) &&
        !picture->isNull()) {
        m_gpPicture = std::move(picture);
    } else {
        SplashAssert("SUCCEEDED(hr) && m_gpPicture");
        WriteLog("TulkDlg", __LINE__, " Load picture failed");
    }
    g_pSplashPicture = m_gpPicture.get();

    if (!m_bSplashCreated) {
        m_rcSplash = QRect(0, 0, 160, 120);
        m_hSplashWnd = std::make_unique<CSplashWindow>(m_rcSplash);
        m_bSplashCreated = true;
    } else {
        m_hSplashWnd->update(m_rcSplash);
    }
    m_hSplashWnd->show();
    m_hSplashWnd->repaint();
}
