#include "MainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

#include "CPUInfo.h"
#include "CaptureWindow.h"
#include "CompareJob.h"
#include "DecodeJob.h"
#include "DifferenceWindow.h"
#include "EncodeJob.h"
#include "JobBridge.h"
#include "PlotDock.h"
#include "Prompts.h"
#include "SettingsSheet.h"
#include "VideoWindow.h"

namespace tessaro::shell {
namespace {

constexpr int kRecentCount = 10;
const char* const kHomePage = "https://www.marvane.example/";

const char* const kOpenFilter =
    "Raw YUV12 Video Files (*.sqcif *.qcif *.cif *.4cif *.16cif *.cst);;H263 Bitstream Video Files (*.263);;"
    "AVI Files (*.avi);;Y4M Video Files (*.y4m);;All Files (*)";
const char* const kCompareFilter =
    "Raw YUV12 Video Files (*.sqcif *.qcif *.cif *.4cif *.16cif);;Y4M Video Files (*.y4m)";
const char* const kBitstreamFilter = "H263 Bitstream Video Files (*.263)";
const char* const kLogFilter = "Text Files (*.txt)";

// Answers an open's questions through the user's prompts and re-reads the coder settings.
class ShellHost : public VideoFileHost {
  public:
    ShellHost(QWidget* parent, Prompts& prompts, const SettingsMap& values, CodecSettings* settings)
        : parent_(parent), prompts_(prompts), values_(values), settings_(settings) {}
    bool AskPictureSize(const std::string& title, int* width, int* height) override {
        return prompts_.PictureSize(parent_, QString::fromStdString(title), width, height);
    }
    void RawOpened(int frameCount, int format, int width, int height) override {
        ReinitEncoderParams(values_, frameCount, format, width, height, settings_);
    }

  private:
    QWidget* parent_;
    Prompts& prompts_;
    const SettingsMap& values_;
    CodecSettings* settings_;
};

}  // namespace

struct MainFrame::Run {
    enum Kind { kEncode, kDecode, kCompare } kind = kEncode;
    std::unique_ptr<JobBridge> bridge;
    std::unique_ptr<Job> job;  // declared after the bridge: it is stopped and joined first
    std::vector<std::shared_ptr<VideoDocument>> documents;
    std::string output;  // the file an encode writes
};

MainFrame::MainFrame(SettingsStore& store, Prompts& prompts, QWidget* parent)
    : QMainWindow(parent), store_(store), prompts_(prompts) {
    setWindowTitle(QStringLiteral("Tessaro"));
    setObjectName(QStringLiteral("mainFrame"));
    setAcceptDrops(true);
    cpuFlags_ = cpuinfo::DetectCpu();
    const SettingsMap values = store_.ReadAll();
    settings_ = LoadSettings(values);
    for (int i = 1; i <= kRecentCount; ++i) {
        const std::string path = ReadString(values, "Recent/File" + std::to_string(i));
        if (!path.empty()) recent_ << QString::fromStdString(path);
    }
    mdi_ = new QMdiArea(this);
    mdi_->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(mdi_);
    BuildPlotDock();
    BuildActions();
    BuildMenus();
    BuildToolBar();
    BuildStatusBar();
    BuildLogBar();
    RebuildRecentMenu();
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { UpdateCommands(); });
    resize(800, 600);
    RestoreLayout();
    plotsPlaced_ = !ReadString(values, "Window/State").empty();
    // The log bar follows the settings, whatever the saved layout says.
    SetLogBarShown(settings_.general.LogInfoCoder != 0 || settings_.general.ShowSNR > 0);
    UpdateCommands();
}

// Log lines go to the log bar, progress to the status bar's progress indicator.
void MainFrame::ConnectLogAndProgress(JobBridge* bridge) {
    connect(bridge, &JobBridge::logLine, this, &MainFrame::AppendLog);
    connect(bridge, &JobBridge::progressStarted, this,
            [this](const QString& label, int minimum, int maximum) {
                statusPane_->setText(label);
                progress_->setRange(minimum, std::max(minimum, maximum));
                progress_->setValue(minimum);
                progress_->show();
            });
    connect(bridge, &JobBridge::progressMoved, progress_, &QProgressBar::setValue);
    connect(bridge, &JobBridge::progressStopped, this, [this] {
        statusPane_->clear();
        progress_->hide();
    });
}

MainFrame::~MainFrame() {
    quitting_ = true;
    // The children go after this body; none of their signals may reach this half-destroyed frame.
    mdi_->disconnect(this);
    // The capture window writes into this frame's settings when it goes: it goes first.
    if (capture_) {
        capture_->disconnect(this);
        QWidget* holder = capture_->parentWidget();
        holder->removeEventFilter(this);
        delete holder;
    }
    for (QMdiSubWindow* sub : mdi_->subWindowList()) {
        sub->removeEventFilter(this);
        if (QWidget* w = sub->widget()) w->disconnect(this);
    }
    for (auto& run : runs_) run->job->Stop();
    for (auto& run : runs_) {
        run->bridge->Detach();
        run->job->Wait();
    }
    runs_.clear();
}

QAction* MainFrame::MakeAction(const char* name, const QString& text, const QString& tip, const char* icon) {
    auto* a = new QAction(text, this);
    a->setObjectName(QString::fromLatin1(name));
    const qsizetype nl = tip.indexOf(QLatin1Char('\n'));
    if (nl >= 0) {
        a->setStatusTip(tip.left(nl));
        a->setToolTip(tip.mid(nl + 1));
    } else if (!tip.isEmpty()) {
        a->setStatusTip(tip);
    }
    (void)icon;
    return a;
}

QAction* MainFrame::action(const QString& name) const {
    return findChild<QAction*>(name);
}

void MainFrame::BuildActions() {
    QStyle* s = style();
    auto add = [&](const char* name, const QString& text, const QString& tip, QStyle::StandardPixmap icon,
                   auto slot) {
        QAction* a = MakeAction(name, text, tip);
        a->setIcon(s->standardIcon(icon));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add("openVideoFile", QStringLiteral("Video &File..."),
        QStringLiteral("Open a video file\nOpen Video File"), QStyle::SP_DialogOpenButton, [this] {
            const QString path = prompts_.OpenFile(this, QStringLiteral("Open Video File"),
                                                   CurrentDirectory(), QString::fromLatin1(kOpenFilter));
            if (path.isEmpty()) return;
            const QString folder = QFileInfo(path).absolutePath();
            settings_.currentDirectory = folder.toStdString();
            store_.Update([&](SettingsMap& m) { m["General/CurrentDirectory"] = folder.toStdString(); });
            OpenFile(path);
        });
    add("openVideoStream", QStringLiteral("Video &Stream"),
        QStringLiteral("Open a video stream\nOpen Video Stream"), QStyle::SP_DriveNetIcon,
        [this] { OpenCaptureWindow(); });
    add("startEncoding", QStringLiteral("Start &Encoding..."),
        QStringLiteral("Encode raw video into an H.263+ bitstream\nStart Encoding"),
        QStyle::SP_MediaSeekForward, [this] { StartEncoding(); });
    add("stopEncoding", QStringLiteral("Stop Encoding"),
        QStringLiteral("Stop H.263+ encoding\nStop Encoding"), QStyle::SP_MediaStop,
        [this] { StopEncoding(); });
    add("compare", QStringLiteral("Compare..."),
        QStringLiteral("Compare video sequences (SNR) frame by frame\nCompare Video Sequences"),
        QStyle::SP_FileDialogContentsView, [this] { Compare(); });
    add("settings", QStringLiteral("&Settings..."),
        QStringLiteral("Set Tessaro parameters\nTessaro Settings"), QStyle::SP_FileDialogDetailedView,
        [this] { ShowSettings(); });
    add("h263Settings", QStringLiteral("H263 &Settings..."),
        QStringLiteral("Set Tessaro parameters\nTessaro Settings"), QStyle::SP_FileDialogDetailedView,
        [this] { ShowSettings(); });
    add("startCapture", QStringLiteral("Start &Capture..."),
        QStringLiteral("Start/Stop video capture\nStart/Stop Capture"), QStyle::SP_MediaPlay, [this] {
            if (capture_) capture_->StartCapture();
        });
    add("videoSource", QStringLiteral("Video S&ource..."), QStringLiteral("Set video source\nVideo Source"),
        QStyle::SP_DriveCDIcon, [this] {
            if (capture_) capture_->ShowVideoSource();
        });
    add("videoFormat", QStringLiteral("Video &Format..."), QStringLiteral("Set video format\nVideo Format"),
        QStyle::SP_FileDialogListView, [this] {
            if (capture_) capture_->ShowVideoFormat();
        });
    // The Preview command acts only in overlay mode and Overlay only in preview mode.
    add("preview", QStringLiteral("&Preview"), QStringLiteral("Set preview mode\nPreview Mode"),
        QStyle::SP_DesktopIcon,
        [this] {
            if (capture_ && capture_->mode() == CaptureWindow::Mode::kOverlay)
                capture_->SetMode(CaptureWindow::Mode::kPreview);
            UpdateCommands();
        })
        ->setCheckable(true);
    add("overlay", QStringLiteral("&Overlay"), QStringLiteral("Set overlay mode\nOverlay Mode"),
        QStyle::SP_TitleBarNormalButton,
        [this] {
            if (capture_ && capture_->mode() == CaptureWindow::Mode::kPreview)
                capture_->SetMode(CaptureWindow::Mode::kOverlay);
            UpdateCommands();
        })
        ->setCheckable(true);
    // A decoded window's analysis: the macroblock overlay and the stream's properties.
    add("macroblockOverlay", QStringLiteral("Macroblock &Analysis"),
        QStringLiteral(
            "Show macroblock types and motion vectors over the decoded picture\nMacroblock Analysis"),
        QStyle::SP_FileDialogContentsView,
        [this](bool on) {
            if (VideoWindow* w = ActiveVideoWindow()) w->SetOverlayShown(on);
            UpdateCommands();
        })
        ->setCheckable(true);
    add("streamProperties", QStringLiteral("P&roperties..."),
        QStringLiteral("Show what the decoded bitstream needs of a receiver\nStream Properties"),
        QStyle::SP_MessageBoxInformation, [this] {
            if (VideoWindow* w = ActiveVideoWindow()) w->ShowProperties();
        });
    QAction* log = add("log", QStringLiteral("&Log"), QStringLiteral("Show or hide the log bar\nToggle Log"),
                       QStyle::SP_FileDialogInfoView, [this] { SetLogBarShown(!logShown_); });
    log->setCheckable(true);
    add("saveLog", QStringLiteral("Save &As..."), QStringLiteral("Save log info into a file\nSave Log Info"),
        QStyle::SP_DialogSaveButton, [this] { SaveLog(); });
    add("helpTopics", QStringLiteral("&Help Topics"), QStringLiteral("List Help topics\nHelp Topics"),
        QStyle::SP_MessageBoxQuestion,
        [this] { prompts_.Information(this, QStringLiteral("The help topics are not installed.")); });
    add("about", QStringLiteral("&About Tessaro..."),
        QStringLiteral("Display program information, version number and copyright\nAbout"),
        QStyle::SP_MessageBoxInformation, [this] {
            QMessageBox::about(this, QStringLiteral("About Tessaro"),
                               QStringLiteral("<b>Tessaro</b> %1<p>A workbench for H.263+ video coding: "
                                              "encoding, decoding, playback and SNR comparison.</p>")
                                   .arg(QApplication::applicationVersion()));
        });
    add("homePage", QStringLiteral("Marvane Home &Page"),
        QStringLiteral("Connect to Marvane Home Page\nMarvane Home Page"), QStyle::SP_ArrowRight,
        [this] { prompts_.OpenUrl(QUrl(QString::fromLatin1(kHomePage))); });
    add("exit", QStringLiteral("E&xit"), QStringLiteral("Quit the application\nExit"),
        QStyle::SP_DialogCloseButton, [this] { close(); });
    closeAction_ =
        add("closeWindow", QStringLiteral("&Close"), QStringLiteral("Close the active video window\nClose"),
            QStyle::SP_DialogCloseButton, [this] {
                if (QMdiSubWindow* sub = mdi_->activeSubWindow()) sub->close();
            });

    frameRateGroup_ = new QActionGroup(this);
    static const char* const rates[6] = {"30.0 fps", "25.0 fps", "15.0 fps",
                                         "12.5 fps", "10.0 fps", "8.3 fps"};
    for (int i = 0; i < 6; ++i) {
        QAction* a = MakeAction(("frameRate" + std::to_string(i)).c_str(), QString::fromLatin1(rates[i]), {});
        a->setCheckable(true);
        frameRateGroup_->addAction(a);
        connect(a, &QAction::triggered, this, [this, i] {
            if (VideoWindow* w = ActiveVideoWindow()) {
                w->SetFrameRateIndex(i);
            } else if (CaptureWindow* c = ActiveCaptureWindow()) {
                c->SetFrameRateIndex(i);
            }
        });
    }
    zoomGroup_ = new QActionGroup(this);
    zoomGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (int z = 1; z <= 5; ++z) {
        const QString tip = z == 1 ? QStringLiteral("Restore original frame size\nOriginal Frame Size")
                                   : QStringLiteral("Zoom frame %1%\nZoom %1%").arg(z * 100);
        QAction* a =
            MakeAction(("zoom" + std::to_string(z)).c_str(), QStringLiteral("%1%").arg(z * 100), tip);
        a->setCheckable(true);
        zoomGroup_->addAction(a);
        connect(a, &QAction::triggered, this, [this, z] {
            if (VideoWindow* w = ActiveVideoWindow()) w->SetZoom(z);
            UpdateCommands();
        });
    }
}

void MainFrame::BuildMenus() {
    QMenuBar* bar = menuBar();
    openMenu_ = bar->addMenu(QStringLiteral("&Open"));
    openMenu_->addAction(action("openVideoFile"));
    openMenu_->addAction(action("openVideoStream"));
    openMenu_->addAction(closeAction_);
    recentSeparator_ = openMenu_->addSeparator();
    openMenu_->addSeparator();
    openMenu_->addAction(action("exit"));

    fileMenu_ = bar->addMenu(QStringLiteral("&File"));
    fileMenu_->addAction(action("startEncoding"));
    fileMenu_->addAction(action("compare"));
    fileMenu_->addSeparator();
    frameRateMenu_ = fileMenu_->addMenu(QStringLiteral("Frame &Rate"));
    frameRateMenu_->addActions(frameRateGroup_->actions());
    zoomMenu_ = fileMenu_->addMenu(QStringLiteral("&Zoom"));
    zoomMenu_->addActions(zoomGroup_->actions());

    videoMenu_ = bar->addMenu(QStringLiteral("&Video"));
    videoMenu_->setObjectName(QStringLiteral("videoMenu"));
    videoMenu_->addAction(action("startCapture"));
    videoMenu_->addAction(action("startEncoding"));
    videoMenu_->addSeparator();
    videoMenu_->addAction(action("videoSource"));
    videoMenu_->addAction(action("videoFormat"));
    videoMenu_->addSeparator();
    videoMenu_->addMenu(frameRateMenu_);
    videoMenu_->addSeparator();
    videoMenu_->addAction(action("preview"));
    videoMenu_->addAction(action("overlay"));

    h263Menu_ = bar->addMenu(QStringLiteral("H&263"));
    h263Menu_->addAction(action("settings"));

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    toolBar_ = new QToolBar(QStringLiteral("Toolbar"), this);
    QAction* toolbarToggle = toolBar_->toggleViewAction();
    toolbarToggle->setText(QStringLiteral("&Toolbar"));
    toolbarToggle->setStatusTip(QStringLiteral("Show or hide the toolbar"));
    view->addAction(toolbarToggle);
    QAction* statusToggle = MakeAction("statusBar", QStringLiteral("&Status Bar"),
                                       QStringLiteral("Show or hide the status bar\nToggle StatusBar"));
    statusToggle->setCheckable(true);
    statusToggle->setChecked(true);
    connect(statusToggle, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    view->addAction(statusToggle);
    view->addAction(action("log"));
    view->addAction(action("plots"));
    view->addSeparator();
    view->addAction(action("macroblockOverlay"));
    view->addAction(action("streamProperties"));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->addAction(action("helpTopics"));
    help->addAction(action("about"));
    help->addAction(action("homePage"));

    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("videoContextMenu"));
    contextMenu_->addAction(action("startEncoding"));
    contextMenu_->addAction(action("h263Settings"));
    contextMenu_->addAction(action("compare"));
    contextMenu_->addSeparator();
    contextMenu_->addMenu(frameRateMenu_);
    contextMenu_->addMenu(zoomMenu_);
    contextMenu_->addSeparator();
    contextMenu_->addAction(action("macroblockOverlay"));
    contextMenu_->addAction(action("streamProperties"));
}

void MainFrame::BuildToolBar() {
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setMovable(true);
    addToolBar(Qt::TopToolBarArea, toolBar_);
    const char* const order[] = {"openVideoFile",
                                 "|",
                                 "openVideoStream",
                                 "startCapture",
                                 "videoSource",
                                 "videoFormat",
                                 "|",
                                 "startEncoding",
                                 "stopEncoding",
                                 "settings",
                                 "compare",
                                 "log",
                                 "|",
                                 "helpTopics",
                                 "about"};
    for (const char* name : order) {
        if (name[0] == '|') {
            toolBar_->addSeparator();
        } else {
            toolBar_->addAction(action(QString::fromLatin1(name)));
        }
    }
}

void MainFrame::BuildStatusBar() {
    auto* pane = new QWidget(this);
    auto* row = new QHBoxLayout(pane);
    row->setContentsMargins(2, 0, 2, 0);
    statusPane_ = new QLabel(pane);
    statusPane_->setObjectName(QStringLiteral("statusPane"));
    progress_ = new QProgressBar(pane);
    progress_->setObjectName(QStringLiteral("progressBar"));
    progress_->setMaximumWidth(200);
    progress_->setMaximumHeight(statusPane_->sizeHint().height());
    progress_->setTextVisible(false);
    progress_->hide();
    row->addWidget(statusPane_);
    row->addWidget(progress_);
    row->addStretch(1);
    statusBar()->addWidget(pane, 1);
}

void MainFrame::BuildLogBar() {
    logDock_ = new QDockWidget(QStringLiteral("Log"), this);
    logDock_->setObjectName(QStringLiteral("logBar"));
    logDock_->setAllowedAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    // Shown and hidden by the Log command only, so that its state is the flag that drops lines.
    logDock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    logList_ = new QListWidget(logDock_);
    logList_->setObjectName(QStringLiteral("logList"));
    logList_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(logList_, &QListWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.addAction(action("saveLog"));
        menu.exec(logList_->viewport()->mapToGlobal(at));
    });
    logDock_->setWidget(logList_);
    addDockWidget(Qt::BottomDockWidgetArea, logDock_);
    logDock_->hide();
    // The plots sit beside the log until the user moves them.
    addDockWidget(Qt::BottomDockWidgetArea, plotDock_);
    splitDockWidget(logDock_, plotDock_, Qt::Horizontal);
    plotDock_->hide();
}

void MainFrame::BuildPlotDock() {
    plotDock_ = new PlotDock(prompts_, this);
    plotDock_->SetFolder([this] { return CurrentDirectory(); });
    plotDock_->SetProtectedPaths([this] { return ProtectedPaths(); });
    QAction* toggle = plotDock_->toggleViewAction();
    toggle->setObjectName(QStringLiteral("plots"));
    toggle->setText(QStringLiteral("&Plots"));
    toggle->setStatusTip(QStringLiteral("Show or hide the plots of the last encode or compare"));
    toggle->setToolTip(QStringLiteral("Toggle Plots"));
    // Shown for the first time beside the log bar: half of the width each.
    connect(toggle, &QAction::triggered, this, [this](bool shown) {
        if (!shown || plotsPlaced_ || !logDock_->isVisible() ||
            dockWidgetArea(plotDock_) != dockWidgetArea(logDock_)) {
            return;
        }
        plotsPlaced_ = true;
        resizeDocks({logDock_, plotDock_}, {width() / 2, width() / 2}, Qt::Horizontal);
    });
}

std::vector<std::string> MainFrame::ProtectedPaths() const {
    std::vector<std::string> paths;
    for (VideoWindow* w : VideoWindows()) {
        paths.push_back(w->file().name());
        if (!w->document()->decodedPath.empty()) paths.push_back(w->document()->decodedPath);
    }
    for (const auto& run : runs_) {
        if (!run->output.empty()) paths.push_back(run->output);
    }
    return paths;
}

DifferenceWindow* MainFrame::differenceWindow() const {
    return differenceSub_ ? qobject_cast<DifferenceWindow*>(differenceSub_->widget()) : nullptr;
}

void MainFrame::ShowDifference(VideoWindow* first, VideoWindow* second) {
    if (differenceSub_) differenceSub_->close();
    auto* view = new DifferenceWindow(first->document(), second->document());
    QMdiSubWindow* sub = mdi_->addSubWindow(view);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    differenceSub_ = sub;
    connect(first, &VideoWindow::frameShown, view, &DifferenceWindow::ShowFrame);
    // It reads both sequences: it goes with either of their windows.
    for (VideoWindow* w : {first, second}) connect(w, &QObject::destroyed, sub, &QWidget::close);
    view->ShowFrame(first->currentFrame());
    sub->show();
    sub->adjustSize();
    // The first sequence's window stays active: its slider steps the view.
    for (QMdiSubWindow* s : mdi_->subWindowList()) {
        if (s->widget() == first) mdi_->setActiveSubWindow(s);
    }
}

void MainFrame::SetLogBarShown(bool shown) {
    logShown_ = shown;
    logDock_->setVisible(shown);
    action("log")->setChecked(shown);
}

void MainFrame::AppendLog(const QString& line) {
    if (!logShown_) return;  // lines are dropped while the bar is hidden
    logList_->addItem(line);
    logList_->setCurrentRow(logList_->count() - 1);
}

bool MainFrame::SaveLog() {
    const QString path = prompts_.SaveFile(this, QStringLiteral("Save Log Info"), CurrentDirectory(),
                                           QString::fromLatin1(kLogFilter), QStringLiteral("txt"));
    if (path.isEmpty()) return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        prompts_.Warning(this, QStringLiteral("Error Saving Log Info."));
        return false;
    }
    for (int i = 0; i < logList_->count(); ++i) {
        const QByteArray line = logList_->item(i)->text().toUtf8() + "\r\n";
        if (file.write(line) != line.size()) break;
    }
    file.close();
    return true;
}

QString MainFrame::CurrentDirectory() const {
    return QString::fromStdString(settings_.currentDirectory);
}

void MainFrame::RestoreLayout() {
    const SettingsMap values = store_.ReadAll();
    const std::string geometry = ReadString(values, "Window/Geometry");
    const std::string state = ReadString(values, "Window/State");
    if (!geometry.empty()) restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(geometry)));
    if (!state.empty()) restoreState(QByteArray::fromBase64(QByteArray::fromStdString(state)));
}

void MainFrame::SaveLayout() {
    const std::string geometry = saveGeometry().toBase64().toStdString();
    const std::string state = saveState().toBase64().toStdString();
    store_.Update([&](SettingsMap& m) {
        m["Window/Geometry"] = geometry;
        m["Window/State"] = state;
    });
}

void MainFrame::AddRecent(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    recent_.removeAll(full);
    recent_.prepend(full);
    while (recent_.size() > kRecentCount) recent_.removeLast();
    SaveRecent();
    RebuildRecentMenu();
}

void MainFrame::SaveRecent() {
    const QStringList list = recent_;
    store_.Update([&](SettingsMap& m) {
        for (int i = 1; i <= kRecentCount; ++i) {
            const std::string key = "Recent/File" + std::to_string(i);
            if (i <= list.size()) {
                m[key] = list[i - 1].toStdString();
            } else {
                m.erase(key);
            }
        }
    });
}

void MainFrame::RebuildRecentMenu() {
    for (QAction* a : recentActions_) {
        openMenu_->removeAction(a);
        delete a;
    }
    recentActions_.clear();
    QAction* before = nullptr;
    const QList<QAction*> items = openMenu_->actions();
    const qsizetype at = items.indexOf(recentSeparator_);
    if (at >= 0 && at + 1 < items.size()) before = items[at + 1];
    for (int i = 0; i < recent_.size(); ++i) {
        const QString path = recent_[i];
        auto* a = new QAction(QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(path), this);
        a->setObjectName(QStringLiteral("recent%1").arg(i + 1));
        connect(a, &QAction::triggered, this, [this, path] {
            if (path.endsWith(QLatin1String("Video"))) {
                action("openVideoStream")->trigger();
            } else {
                OpenFile(path);
            }
        });
        openMenu_->insertAction(before, a);
        recentActions_ << a;
    }
}

VideoWindow* MainFrame::ActiveVideoWindow() const {
    QMdiSubWindow* sub = mdi_->activeSubWindow();
    if (!sub) sub = mdi_->currentSubWindow();
    return sub ? qobject_cast<VideoWindow*>(sub->widget()) : nullptr;
}

QList<VideoWindow*> MainFrame::VideoWindows() const {
    QList<VideoWindow*> list;
    for (QMdiSubWindow* sub : mdi_->subWindowList()) {
        if (auto* w = qobject_cast<VideoWindow*>(sub->widget())) list << w;
    }
    return list;
}

VideoWindow* MainFrame::OpenFile(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (QMdiSubWindow* sub : mdi_->subWindowList()) {
        auto* w = qobject_cast<VideoWindow*>(sub->widget());
        if (!w || canonical.isEmpty()) continue;
        const QFileInfo shown(
            QString::fromStdString(w->file().isBitstream() && !w->document()->decodeBusy && w->file().isRaw()
                                       ? w->document()->decodedPath
                                       : w->file().name()));
        const QFileInfo bitstream(QString::fromStdString(w->file().name()));
        if (shown.canonicalFilePath() == canonical || bitstream.canonicalFilePath() == canonical) {
            mdi_->setActiveSubWindow(sub);
            return w;
        }
    }
    const SettingsMap values = store_.ReadAll();
    const int rateIndex = std::clamp(ReadNumber(values, "General/FrameRate"), 0, 5);
    auto document = std::make_shared<VideoDocument>(rateIndex);
    ShellHost host(this, prompts_, values, &settings_);
    if (!document->file.Open(path.toStdString(), &host)) {
        prompts_.Warning(this, QString::fromStdString(document->file.Error()));
        return nullptr;
    }
    auto* window = new VideoWindow(document, cpuFlags_);
    QMdiSubWindow* sub = mdi_->addSubWindow(window);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->installEventFilter(this);
    connect(window, &VideoWindow::stateChanged, this, &MainFrame::UpdateCommands);
    connect(window, &VideoWindow::contextMenuWanted, this, [this](const QPoint& at) {
        UpdateCommands();
        contextMenu_->popup(at);
    });
    sub->show();
    window->Reopened();
    mdi_->setActiveSubWindow(sub);
    AddRecent(path);
    if (document->file.isBitstream()) StartDecoding(window);
    UpdateCommands();
    return window;
}

void MainFrame::OpenAtStartup(const QString& commandLineFile) {
    if (!commandLineFile.isEmpty()) OpenFile(commandLineFile);
    if (!settings_.general.StartupFile.empty())
        OpenFile(QString::fromStdString(settings_.general.StartupFile));
    if (!commandLineFile.isEmpty()) OpenFile(commandLineFile);
}

bool MainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(watched)) {
            if (auto* w = qobject_cast<VideoWindow*>(sub->widget())) WindowClosing(w);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainFrame::WindowClosing(VideoWindow* window) {
    window->StopPlayback();
    const std::shared_ptr<VideoDocument>& document = window->document();
    document->deleteDecoded = settings_.general.DeleteDecodedFile != 0;
    StopRunsOf(document);
    const int index = window->frameRateIndex();
    settings_.frameRateIndex = index;
    store_.Update([&](SettingsMap& m) { m["General/FrameRate"] = std::to_string(index); });
    // The window goes after this event; the commands follow the next active window.
    QMetaObject::invokeMethod(
        this, [this] { UpdateCommands(); }, Qt::QueuedConnection);
}

bool MainFrame::CloseVideoWindow(VideoWindow* window) {
    for (QMdiSubWindow* sub : mdi_->subWindowList()) {
        if (sub->widget() == window) return sub->close();
    }
    return false;
}

void MainFrame::StopRunsOf(const std::shared_ptr<VideoDocument>& document) {
    for (auto& run : runs_) {
        if (std::find(run->documents.begin(), run->documents.end(), document) != run->documents.end()) {
            run->job->Stop();
        }
    }
}

MainFrame::Run* MainFrame::StartRun(std::unique_ptr<Job> job,
                                    std::vector<std::shared_ptr<VideoDocument>> documents) {
    auto run = std::make_unique<Run>();
    run->bridge = std::make_unique<JobBridge>();
    run->job = std::move(job);
    run->documents = std::move(documents);
    JobBridge* bridge = run->bridge.get();
    ConnectLogAndProgress(bridge);
    connect(bridge, &JobBridge::errorMessage, this, [this](const QString& m) { prompts_.Warning(this, m); });
    runs_.push_back(std::move(run));
    return runs_.back().get();
}

void MainFrame::EndRun(Run* run) {
    if (run == encodeRun_) encodeRun_ = nullptr;
    run->job->Wait();
    runs_.remove_if([run](const std::unique_ptr<Run>& r) { return r.get() == run; });
    UpdateCommands();
}

void MainFrame::StartDecoding(VideoWindow* window) {
    std::shared_ptr<VideoDocument> document = window->document();
    auto job = std::make_unique<DecodeJob>();
    DecodeJob* decode = job.get();
    Run* run = StartRun(std::move(job), {document});
    run->kind = Run::kDecode;
    QPointer<VideoWindow> target(window);
    connect(
        run->bridge.get(), &JobBridge::finished, this,
        [this, run, decode, target, document](bool completed, int, const QString& outputPath) {
            document->decodeBusy = false;
            if (!outputPath.isEmpty()) document->decodedPath = outputPath.toStdString();
            decode->Wait();  // the analysis is complete once the worker has ended
            if (completed) document->analysis = decode->analysis();
            EndRun(run);
            if (!quitting_) DecodeDone(target.data(), completed, outputPath);
            emit decodingFinished(completed);
        },
        Qt::QueuedConnection);
    document->decodeBusy = true;
    DecodeJobConfig config;
    config.input = &document->file;
    config.settings = settings_;
    config.collectAnalysis = true;
    std::string error;
    if (!decode->Start(config, *run->bridge, &error)) {
        document->decodeBusy = false;
        EndRun(run);
        if (!error.empty()) prompts_.Warning(this, QString::fromStdString(error));
        return;
    }
    window->UpdatePanes();
    window->view()->update();
}

void MainFrame::DecodeDone(VideoWindow* window, bool completed, const QString& outputPath) {
    if (!window) return;
    if (completed && !outputPath.isEmpty()) {
        VideoDocument& document = *window->document();
        const SettingsMap values = store_.ReadAll();
        ShellHost host(this, prompts_, values, &settings_);
        if (!document.file.Open(outputPath.toStdString(), &host)) {
            prompts_.Warning(this, QString::fromStdString(document.file.Error()));
        }
        window->Reopened();
    } else {
        window->UpdatePanes();
        window->view()->update();
    }
    UpdateCommands();
}

bool MainFrame::EncodeRunning() const {
    return encodeRun_ != nullptr;
}

bool MainFrame::JobsRunning() const {
    return !runs_.empty();
}

void MainFrame::PressButton(QAction* a, bool down) {
    if (auto* button = qobject_cast<QToolButton*>(toolBar_->widgetForAction(a))) button->setDown(down);
}

void MainFrame::StartEncoding() {
    if (CaptureWindow* c = ActiveCaptureWindow()) {
        const bool encoding = c->Encoding();
        if (!EncodeRunning()) c->StartEncoding();
        if (!encoding && c->Encoding()) {
            plotDock_->Follow(c->bridge(), PlotKind::kEncode, QStringLiteral("Capture encoding"));
        }
        return;
    }
    VideoWindow* window = ActiveVideoWindow();
    if (!window || !window->CanEncodeOrCompare() || EncodeRunning()) return;
    std::shared_ptr<VideoDocument> document = window->document();
    QString output = QString::fromStdString(settings_.general.DefaultOutputFile);
    if (output.isEmpty()) {
        QAction* start = action("startEncoding");
        PressButton(start, true);
        output =
            prompts_.SaveFile(this, QStringLiteral("Save As H263 Bitstream Video File"), CurrentDirectory(),
                              QString::fromLatin1(kBitstreamFilter), QStringLiteral("263"));
        PressButton(start, false);
        if (output.isEmpty()) return;
    }
    const VideoFile& file = document->file;
    EncodeJobConfig config;
    config.input = &file;
    config.outputPath = output.toStdString();
    config.settings = settings_;
    // The job clamps the frame range to the file and takes its picture facts.
    auto job = std::make_unique<EncodeJob>();
    EncodeJob* encode = job.get();
    Run* run = StartRun(std::move(job), {document});
    run->kind = Run::kEncode;
    connect(
        run->bridge.get(), &JobBridge::finished, this,
        [this, run, document](bool completed, int, const QString&) {
            document->encodeBusy = false;
            EndRun(run);
            emit encodingFinished(completed);
        },
        Qt::QueuedConnection);
    run->output = config.outputPath;
    std::string error;
    document->encodeBusy = true;
    encodeRun_ = run;
    if (!encode->Start(config, *run->bridge, &error)) {
        document->encodeBusy = false;
        EndRun(run);
        prompts_.Warning(this, QString::fromStdString(error));
        return;
    }
    plotDock_->Follow(
        run->bridge.get(), PlotKind::kEncode,
        QStringLiteral("Encode of %1").arg(QFileInfo(QString::fromStdString(file.name())).fileName()));
    UpdateCommands();
}

void MainFrame::StopEncoding() {
    if (capture_ && capture_->Encoding()) capture_->StopEncoding();
    if (encodeRun_) encodeRun_->job->Stop();
}

void MainFrame::Compare() {
    VideoWindow* window = ActiveVideoWindow();
    if (!window || !window->CanEncodeOrCompare()) return;
    std::shared_ptr<VideoDocument> first = window->document();
    QAction* compare = action("compare");
    PressButton(compare, true);
    const QString title = QStringLiteral("Compare File '%1' With File")
                              .arg(QFileInfo(QString::fromStdString(first->file.name())).fileName());
    const QString path =
        prompts_.OpenFile(this, title, CurrentDirectory(), QString::fromLatin1(kCompareFilter));
    VideoWindow* other = path.isEmpty() ? nullptr : OpenFile(path);
    if (!other || other == window) {
        PressButton(compare, false);
        return;
    }
    std::shared_ptr<VideoDocument> second = other->document();
    const VideoFile &a = first->file, &b = second->file;
    if (!b.isRaw() || a.format() != b.format() || a.width() != b.width() || a.height() != b.height()) {
        prompts_.Warning(this, QStringLiteral("Can't compare video files of\ndifferent formats/frame sizes"));
        PressButton(compare, false);
        return;
    }
    if (!logShown_) SetLogBarShown(true);
    auto job = std::make_unique<CompareJob>();
    CompareJob* comparison = job.get();
    Run* run = StartRun(std::move(job), {first, second});
    run->kind = Run::kCompare;
    connect(
        run->bridge.get(), &JobBridge::finished, this,
        [this, run, compare](bool completed, int, const QString&) {
            EndRun(run);
            PressButton(compare, false);
            emit comparisonFinished(completed);
        },
        Qt::QueuedConnection);
    if (!comparison->Start(a, b, *run->bridge)) {
        EndRun(run);
        PressButton(compare, false);
        return;
    }
    plotDock_->Follow(run->bridge.get(), PlotKind::kCompare,
                      QStringLiteral("Compare of %1 and %2")
                          .arg(QFileInfo(QString::fromStdString(a.name())).fileName(),
                               QFileInfo(QString::fromStdString(b.name())).fileName()));
    ShowDifference(window, other);
}

void MainFrame::ShowSettings() {
    if (CaptureWindow* c = ActiveCaptureWindow()) {
        ShowCaptureSettings(c);
        return;
    }
    VideoWindow* window = ActiveVideoWindow();
    if (!window || window->file().isAvi() || sheet_) return;
    const VideoFile& file = window->file();
    CodecSettings before = settings_;
    r263avo::EncoderParams& p = before.coder;
    const int last = std::max(file.frameCount() - 1, 0);
    p.StartFrame = std::clamp(p.StartFrame, 0, last);
    p.EndFrame = std::clamp(p.EndFrame, 0, last);
    p.FrameCount = file.frameCount();
    p.SourceFormat = file.format();
    p.Width = file.width();
    p.Height = file.height();
    settings_.coder.StartFrame = p.StartFrame;
    settings_.coder.EndFrame = p.EndFrame;
    sheet_ = new SettingsSheet(before, false, prompts_, this);
    sheet_->setAttribute(Qt::WA_DeleteOnClose);
    QAction* settingsAction = action("settings");
    PressButton(settingsAction, true);
    connect(sheet_, &QDialog::finished, this, [this, before, settingsAction](int result) {
        if (result == QDialog::Accepted) {
            settings_ = sheet_->edited();
            SaveSettings(store_, before, settings_);
        }
        sheet_ = nullptr;
        PressButton(settingsAction, false);
        UpdateCommands();
    });
    UpdateCommands();
    sheet_->open();
}

void MainFrame::UpdateCommands() {
    VideoWindow* w = ActiveVideoWindow();
    const bool ready = w && w->CanEncodeOrCompare();
    action("startEncoding")->setEnabled(ready && !EncodeRunning());
    action("stopEncoding")->setEnabled(EncodeRunning() && encodeRun_->job->Running());
    action("compare")->setEnabled(ready);
    const bool settingsOk = w && !w->file().isAvi();
    action("settings")->setEnabled(settingsOk);
    action("h263Settings")->setEnabled(settingsOk);
    for (const char* name : {"startCapture", "videoSource", "videoFormat", "preview", "overlay"}) {
        action(QString::fromLatin1(name))->setEnabled(false);
    }
    closeAction_->setVisible(w != nullptr);
    fileMenu_->menuAction()->setVisible(w != nullptr);
    h263Menu_->menuAction()->setVisible(w != nullptr);
    frameRateGroup_->setEnabled(w != nullptr);
    UpdateCaptureCommands(w ? nullptr : ActiveCaptureWindow());
    zoomGroup_->setEnabled(w != nullptr);
    const QList<QAction*> rates = frameRateGroup_->actions();
    for (int i = 0; i < rates.size(); ++i) rates[i]->setChecked(w && w->frameRateIndex() == i);
    if (!w && ActiveCaptureWindow()) {
        for (int i = 0; i < rates.size(); ++i)
            rates[i]->setChecked(ActiveCaptureWindow()->frameRateIndex() == i);
    }
    const QList<QAction*> zooms = zoomGroup_->actions();
    const int checkedZoom = w ? w->CheckedZoom() : 0;
    for (int i = 0; i < zooms.size(); ++i) zooms[i]->setChecked(checkedZoom == i + 1);
    const bool analysed = w && w->HasAnalysis();
    action("macroblockOverlay")->setEnabled(analysed);
    action("macroblockOverlay")->setChecked(analysed && w->overlayShown());
    action("streamProperties")->setEnabled(analysed && w->document()->analysis->haveInfo);
}

void MainFrame::closeEvent(QCloseEvent* event) {
    quitting_ = true;
    SaveLayout();
    // Closing the windows stops their jobs; what still runs is stopped and waited for here.
    mdi_->closeAllSubWindows();
    for (auto& run : runs_) run->job->Stop();
    for (auto& run : runs_) {
        run->bridge->Detach();
        run->job->Wait();
    }
    runs_.clear();
    encodeRun_ = nullptr;
    event->accept();
}

void MainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainFrame::dropEvent(QDropEvent* event) {
    if (OpenDropped(*event->mimeData()) > 0) event->acceptProposedAction();
}

int MainFrame::OpenDropped(const QMimeData& data) {
    int opened = 0;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile() && OpenFile(url.toLocalFile())) ++opened;
    }
    return opened;
}

}  // namespace tessaro::shell

namespace tessaro::shell {

CaptureWindow* MainFrame::ActiveCaptureWindow() const {
    QMdiSubWindow* sub = mdi_->activeSubWindow();
    if (!sub) sub = mdi_->currentSubWindow();
    return sub ? qobject_cast<CaptureWindow*>(sub->widget()) : nullptr;
}

CaptureWindow* MainFrame::OpenCaptureWindow() {
    if (capture_) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(capture_->parentWidget())) mdi_->setActiveSubWindow(sub);
        return capture_;
    }
    const std::vector<SourceInfo> sources = ListSources(deviceFolder_.toStdString());
    std::string error;
    std::unique_ptr<FrameSource> source = sources.empty() ? nullptr : OpenSource(sources.front(), &error);
    if (!source) {
        prompts_.Warning(
            this, QString::fromStdString(error.empty() ? "No video capture source is available." : error));
        return nullptr;
    }
    CaptureContext context;
    context.store = &store_;
    context.prompts = &prompts_;
    context.settings = &settings_;
    context.cpuFlags = cpuFlags_;
    context.deviceFolder = deviceFolder_;
    context.protectedPaths = [this] { return ProtectedPaths(); };
    auto* window = new CaptureWindow(std::move(source), context);
    if (!window->Connected()) {
        prompts_.Warning(this, window->ConnectError());
        delete window;
        return nullptr;
    }
    JobBridge* bridge = window->bridge();
    ConnectLogAndProgress(bridge);
    connect(window, &CaptureWindow::stateChanged, this, &MainFrame::UpdateCommands);
    connect(window, &QObject::destroyed, this, [this] {
        QMetaObject::invokeMethod(
            this, [this] { UpdateCommands(); }, Qt::QueuedConnection);
    });
    QMdiSubWindow* sub = mdi_->addSubWindow(window);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    capture_ = window;
    // The stream has a recent entry of its own, which reopens this window.
    const QString entry = QStringLiteral("Video");
    recent_.removeAll(entry);
    recent_.prepend(entry);
    while (recent_.size() > kRecentCount) recent_.removeLast();
    SaveRecent();
    RebuildRecentMenu();
    sub->show();
    sub->adjustSize();
    mdi_->setActiveSubWindow(sub);
    UpdateCommands();
    return window;
}

void MainFrame::UpdateCaptureCommands(CaptureWindow* c) {
    action("openVideoStream")->setEnabled(!capture_);
    if (capture_ && capture_->Encoding()) action("stopEncoding")->setEnabled(capture_->job().Running());
    videoMenu_->menuAction()->setVisible(c != nullptr);
    // The toolbar buttons stay pressed while their run goes on.
    PressButton(action("startCapture"), capture_ && capture_->Capturing() && !capture_->Encoding());
    if (capture_ && !EncodeRunning()) PressButton(action("startEncoding"), capture_->Encoding());
    if (!c) {
        action("preview")->setChecked(false);
        action("overlay")->setChecked(false);
        return;
    }
    const bool encoding = c->Encoding(), capturing = c->Capturing();
    action("startCapture")->setEnabled(!encoding);
    action("startEncoding")->setEnabled(!capturing && !EncodeRunning());
    action("videoSource")->setEnabled(!capturing);
    action("videoFormat")->setEnabled(!capturing);
    action("preview")->setEnabled(!encoding);
    action("overlay")->setEnabled(!encoding);
    action("preview")->setChecked(c->mode() == CaptureWindow::Mode::kPreview);
    action("overlay")->setChecked(c->mode() == CaptureWindow::Mode::kOverlay);
    action("compare")->setEnabled(false);
    action("settings")->setEnabled(!capturing);
    action("h263Settings")->setEnabled(!capturing);
    h263Menu_->menuAction()->setVisible(true);
    frameRateGroup_->setEnabled(true);
}

void MainFrame::ShowCaptureSettings(CaptureWindow* window) {
    if (sheet_ || window->Capturing()) return;
    // A capture has no file: 1000 frames from frame 0 of the source's picture.
    CodecSettings before = settings_;
    r263avo::EncoderParams& p = before.coder;
    const int w = window->job().source().width(), h = window->job().source().height();
    p.StartFrame = 0;
    p.FrameCount = 1000;
    p.EndFrame = std::clamp(p.EndFrame, 0, 999);
    p.SourceFormat = PictureFormatOfSize(w, h);
    p.Width = w;
    p.Height = h;
    settings_.coder.StartFrame = 0;
    settings_.coder.EndFrame = p.EndFrame;
    sheet_ = new SettingsSheet(before, true, prompts_, this);
    sheet_->setAttribute(Qt::WA_DeleteOnClose);
    QAction* settingsAction = action("settings");
    PressButton(settingsAction, true);
    connect(sheet_, &QDialog::finished, this, [this, before, settingsAction](int result) {
        if (result == QDialog::Accepted) {
            settings_ = sheet_->edited();
            settings_.coder.StartFrame = 0;
            SaveSettings(store_, before, settings_);
        }
        sheet_ = nullptr;
        PressButton(settingsAction, false);
        UpdateCommands();
    });
    UpdateCommands();
    sheet_->open();
}

}  // namespace tessaro::shell
