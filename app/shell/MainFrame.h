// The main window of the workbench: the video windows in a multiple-document area, the commands
// with their menus and toolbar, the one-pane status bar with its progress bar, the log bar, the
// plots of the last encode or compare beside it, the difference view of a compare, and the jobs
// started from the windows.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <list>
#include <memory>

#include "CaptureWindow.h"
#include "Settings.h"
#include "SettingsStore.h"

class QAction;
class QActionGroup;
class QDockWidget;
class QLabel;
class QListWidget;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QMimeData;
class QProgressBar;
class QToolBar;

namespace tessaro {
class Job;
}

namespace tessaro::shell {

class DifferenceWindow;
class JobBridge;
class PlotDock;
class Prompts;
class SettingsSheet;
class VideoWindow;
struct VideoDocument;

class MainFrame : public QMainWindow {
    Q_OBJECT
  public:
    MainFrame(SettingsStore& store, Prompts& prompts, QWidget* parent = nullptr);
    ~MainFrame() override;

    // Opens a file in a window of its own (or activates its window when it is already open).
    // Null after a failure, which has been shown to the user.
    VideoWindow* OpenFile(const QString& path);
    // Opens the local files of a drop; the number opened.
    int OpenDropped(const QMimeData& data);
    // Start-up: the command-line file, the StartupFile setting, the command-line file again.
    void OpenAtStartup(const QString& commandLineFile);

    // Opens the capture window on the first source (or activates the open one); null after a
    // failure, which has been shown to the user.
    CaptureWindow* OpenCaptureWindow();
    CaptureWindow* captureWindow() const { return capture_.data(); }
    CaptureWindow* ActiveCaptureWindow() const;
    // Where capture devices are looked for ("/dev").
    void SetCaptureDeviceFolder(const QString& folder) { deviceFolder_ = folder; }

    VideoWindow* ActiveVideoWindow() const;
    QList<VideoWindow*> VideoWindows() const;
    // Closes the window (stopping its job); true when it went.
    bool CloseVideoWindow(VideoWindow* window);

    // Commands.
    void StartEncoding();
    void StopEncoding();
    void Compare();
    void ShowSettings();
    void SetLogBarShown(bool shown);
    bool LogBarShown() const { return logShown_; }
    bool SaveLog();
    void AppendLog(const QString& line);

    bool EncodeRunning() const;
    bool JobsRunning() const;
    const CodecSettings& settings() const { return settings_; }
    QListWidget* logList() const { return logList_; }
    QLabel* statusPane() const { return statusPane_; }
    QProgressBar* progressBar() const { return progress_; }
    QStringList RecentFiles() const { return recent_; }
    QAction* action(const QString& name) const;
    QMenu* contextMenu() const { return contextMenu_; }
    SettingsSheet* openSheet() const { return sheet_; }
    PlotDock* plotDock() const { return plotDock_; }
    // The difference view of the last compare, while it is open.
    DifferenceWindow* differenceWindow() const;
    void UpdateCommands();

  signals:
    // A run has ended and its window state is updated (tests wait for these).
    void encodingFinished(bool completed);
    void decodingFinished(bool completed);
    void comparisonFinished(bool completed);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ConnectLogAndProgress(JobBridge* bridge);
    struct Run;
    void BuildActions();
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildLogBar();
    void RestoreLayout();
    void SaveLayout();
    void AddRecent(const QString& path);
    void RebuildRecentMenu();
    void SaveRecent();
    QAction* MakeAction(const char* name, const QString& text, const QString& tip,
                        const char* icon = nullptr);
    void PressButton(QAction* action, bool down);
    Run* StartRun(std::unique_ptr<Job> job, std::vector<std::shared_ptr<VideoDocument>> documents);
    void EndRun(Run* run);
    void StartDecoding(VideoWindow* window);
    void DecodeDone(VideoWindow* window, bool completed, const QString& outputPath);
    QString CurrentDirectory() const;
    void WindowClosing(VideoWindow* window);
    void StopRunsOf(const std::shared_ptr<VideoDocument>& document);
    void ShowCaptureSettings(CaptureWindow* window);
    void UpdateCaptureCommands(CaptureWindow* window);
    void BuildPlotDock();
    void ShowDifference(VideoWindow* first, VideoWindow* second);
    // Files a save from the windows must never replace: the open sequences, their decoded files and
    // the bitstream of a running encode.
    std::vector<std::string> ProtectedPaths() const;

    SettingsStore& store_;
    Prompts& prompts_;
    CodecSettings settings_;
    uint32_t cpuFlags_ = 0;
    QMdiArea* mdi_ = nullptr;
    QListWidget* logList_ = nullptr;
    QDockWidget* logDock_ = nullptr;
    bool logShown_ = false;
    QLabel* statusPane_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QMenu *fileMenu_ = nullptr, *h263Menu_ = nullptr, *openMenu_ = nullptr, *contextMenu_ = nullptr,
          *frameRateMenu_ = nullptr, *zoomMenu_ = nullptr;
    QAction *closeAction_ = nullptr, *recentSeparator_ = nullptr;
    QList<QAction*> recentActions_;
    QActionGroup *frameRateGroup_ = nullptr, *zoomGroup_ = nullptr;
    QStringList recent_;
    SettingsSheet* sheet_ = nullptr;
    std::list<std::unique_ptr<Run>> runs_;
    Run* encodeRun_ = nullptr;
    bool quitting_ = false;
    QPointer<CaptureWindow> capture_;
    QMenu* videoMenu_ = nullptr;
    QString deviceFolder_ = QStringLiteral("/dev");
    PlotDock* plotDock_ = nullptr;
    bool plotsPlaced_ = false;  // the plots dock has a width from a saved layout or its first showing
    QPointer<QMdiSubWindow> differenceSub_;
};

}  // namespace tessaro::shell
