#include "SettingsSheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "Prompts.h"
#include "ShellLogic.h"

namespace tessaro::shell {
namespace {

constexpr int kGeneral = 0, kCoder = 1, kAdvanced = 2;

const char* const kStartupFilter =
    "Raw YUV12 Video Files (*.sqcif *.qcif *.cif *.4cif *.16cif);;H263 Bitstream Video Files (*.263);;"
    "AVI Files (*.avi);;All Files (*)";
const char* const kBitstreamFilter = "H263 Bitstream Video Files (*.263);;All Files (*)";

QCheckBox* Check(QWidget* parent, const char* name, const QString& text, bool on) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(on);
    return box;
}

}  // namespace

SettingsSheet::SettingsSheet(const CodecSettings& settings, bool capture, Prompts& prompts, QWidget* parent)
    : QDialog(parent), original_(settings), edited_(settings), capture_(capture), prompts_(prompts) {
    setWindowTitle(QStringLiteral("V263+ ODI Settings"));
    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    tabs_->addTab(BuildGeneral(), QStringLiteral("General"));
    tabs_->addTab(BuildCoder(), QStringLiteral("Coder"));
    tabs_->addTab(BuildAdvanced(), QStringLiteral("Advanced"));
    layout->addWidget(tabs_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsSheet::reject);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (switching_ || index == currentPage_) return;
        if (!LeavePage(currentPage_)) {
            switching_ = true;
            tabs_->setCurrentIndex(currentPage_);
            switching_ = false;
            return;
        }
        currentPage_ = index;
        visited_[static_cast<size_t>(index)] = true;
    });
    UpdateEnabling();
}

QWidget* SettingsSheet::Number(QWidget* parent, const char* name, int value, int minimum, int maximum, int page,
                               int spinMinimum, int spinMaximum, bool readOnly) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    NumberField field;
    field.edit = new QLineEdit(QString::number(value), box);
    field.edit->setObjectName(QString::fromLatin1(name));
    field.edit->setReadOnly(readOnly);
    field.edit->setMaximumWidth(90);
    field.minimum = minimum;
    field.maximum = maximum;
    field.checked = !readOnly;
    field.page = page;
    row->addWidget(field.edit);
    if (spinMaximum >= spinMinimum) {
        // An up-down control: up raises the value, within the control's own range.
        field.spin = new QScrollBar(Qt::Vertical, box);
        field.spin->setObjectName(QString::fromLatin1(name) + QStringLiteral("Spin"));
        field.spin->setRange(-spinMaximum, -spinMinimum);
        field.spin->setValue(-std::clamp(value, spinMinimum, spinMaximum));
        field.spin->setFixedSize(16, field.edit->sizeHint().height());
        QLineEdit* edit = field.edit;
        connect(field.spin, &QScrollBar::valueChanged, edit, [edit](int v) { edit->setText(QString::number(-v)); });
        row->addWidget(field.spin);
    }
    row->addStretch(1);
    numbers_.push_back(field);
    return box;
}

QLineEdit* SettingsSheet::Edit(const char* name) const {
    for (const NumberField& f : numbers_) {
        if (f.edit->objectName() == QLatin1String(name)) return f.edit;
    }
    return nullptr;
}

int SettingsSheet::Value(const char* name) const {
    return Edit(name)->text().trimmed().toInt();
}

QWidget* SettingsSheet::BuildGeneral() {
    const GeneralSettings& g = original_.general;
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    showLog_ = Check(page, "showLogInfo", QStringLiteral("Show Log Info"), g.LogInfoCoder != 0);
    showSnr_ = Check(page, "showSnr", QStringLiteral("Show SNR"), g.ShowSNR > 0);
    showProgress_ = Check(page, "showProgress", QStringLiteral("Show Progress"), g.ShowProgress != 0);
    auto* encoderLog = Check(page, "encoderLogFile", QStringLiteral("Create Encoder Log File (e_log.txt)"), false);
    auto* decoderLog = Check(page, "decoderLogFile", QStringLiteral("Create Decoder Log File (d_log.txt)"), false);
    encoderLog->setEnabled(false);
    decoderLog->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(showLog_), static_cast<QWidget*>(showSnr_),
                       static_cast<QWidget*>(showProgress_), static_cast<QWidget*>(encoderLog),
                       static_cast<QWidget*>(decoderLog)}) {
        layout->addWidget(w);
    }
    auto fileRow = [&](const QString& label, const char* name, const std::string& value, const QString& title,
                       const char* filter) {
        layout->addWidget(new QLabel(label, page));
        auto* row = new QHBoxLayout;
        auto* edit = new QLineEdit(QString::fromStdString(value), page);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setMaxLength(255);
        auto* browse = new QPushButton(QStringLiteral("..."), page);
        browse->setObjectName(QString::fromLatin1(name) + QStringLiteral("Browse"));
        browse->setFixedWidth(32);
        row->addWidget(edit, 1);
        row->addWidget(browse);
        layout->addLayout(row);
        connect(browse, &QPushButton::clicked, this, [this, edit, title, filter] {
            const QString path = prompts_.OpenFile(this, title, QString::fromStdString(original_.currentDirectory),
                                                   QString::fromLatin1(filter));
            if (!path.isEmpty()) edit->setText(path);
        });
        return edit;
    };
    startupFile_ = fileRow(QStringLiteral("Open File At Startup:"), "startupFile", g.StartupFile,
                           QStringLiteral("Open File At Startup"), kStartupFilter);
    defaultOutput_ = fileRow(QStringLiteral("Default H263 Output File:"), "defaultOutputFile", g.DefaultOutputFile,
                             QStringLiteral("Default H263 Bitstream Video File"), kBitstreamFilter);
    deleteDecoded_ = Check(page, "deleteDecodedFile", QStringLiteral("Delete Decoder Output File"),
                           g.DeleteDecodedFile != 0);
    layout->addWidget(deleteDecoded_);
    auto* decoder = new QGroupBox(QStringLiteral("Decoder Options:"), page);
    auto* decoderLayout = new QVBoxLayout(decoder);
    errorConceal_ = Check(decoder, "useErrorConceal", QStringLiteral("Use Error Concealment"), g.UseErrorConceal != 0);
    decoderLayout->addWidget(errorConceal_);
    decoder->setVisible(false);  // kept and written back, not offered
    layout->addWidget(decoder);
    layout->addStretch(1);
    return page;
}

QWidget* SettingsSheet::BuildCoder() {
    const r263avo::EncoderParams& p = original_.coder;
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);

    auto* picture = new QGroupBox(QStringLiteral("Picture"), page);
    auto* pictureForm = new QFormLayout(picture);
    pictureForm->addRow(QStringLiteral("Start:"), Number(picture, "startFrame", p.StartFrame, 0, INT_MAX, kCoder,
                                                          0, -1, capture_));
    pictureForm->addRow(QStringLiteral("End:"), Number(picture, "endFrame", p.EndFrame, 0, INT_MAX, kCoder));
    auto* format = new QLineEdit(QString::fromStdString(InputFormatName(p.SourceFormat)), picture);
    format->setObjectName(QStringLiteral("inputFormat"));
    format->setReadOnly(true);
    format->setMaximumWidth(90);
    pictureForm->addRow(QStringLiteral("Input Format:"), format);
    pictureForm->addRow(QStringLiteral("Width:"), Number(picture, "width", p.Width, 128, 1408, kCoder, 0, -1, true));
    pictureForm->addRow(QStringLiteral("Height:"), Number(picture, "height", p.Height, 96, 1152, kCoder, 0, -1, true));
    grid->addWidget(picture, 0, 0, 2, 1);

    auto* iFrame = new QGroupBox(QStringLiteral("I-Frame"), page);
    auto* iForm = new QFormLayout(iFrame);
    iForm->addRow(QStringLiteral("Quantizer:"), Number(iFrame, "iQuantizer", p.IQuantizer, 1, 31, kCoder, 1, 31));
    iForm->addRow(QStringLiteral("I-Frame Period:"),
                  Number(iFrame, "iFramePeriod", p.IFramePeriod, 0, 300, kCoder, 0, 1000));
    QWidget* refresh = Number(iFrame, "mbRefresh", p.IntraMBRefreshPeriod, 0, 300, kCoder, 0, 100);
    refresh->setEnabled(false);
    iForm->addRow(QStringLiteral("MB Refresh:"), refresh);
    grid->addWidget(iFrame, 0, 1);

    auto* pFrame = new QGroupBox(QStringLiteral("P-Frame"), page);
    auto* pForm = new QFormLayout(pFrame);
    pForm->addRow(QStringLiteral("Quantizer:"), Number(pFrame, "pQuantizer", p.PQuantizer, 1, 31, kCoder, 1, 31));
    grid->addWidget(pFrame, 1, 1);

    auto* rate = new QGroupBox(QStringLiteral("Frame Rate"), page);
    auto* rateForm = new QFormLayout(rate);
    target_ = new QComboBox(rate);
    target_->setObjectName(QStringLiteral("targetFrameRate"));
    target_->addItems({QStringLiteral("25.0"), QStringLiteral("30.0")});
    target_->setCurrentIndex(p.FrameRateTarget < 27.5f ? 0 : 1);
    actual_ = new QComboBox(rate);
    actual_->setObjectName(QStringLiteral("actualFrameRate"));
    input_ = new QComboBox(rate);
    input_->setObjectName(QStringLiteral("inputFrameRate"));
    input_->setEnabled(false);
    FillRateLists();
    actual_->setCurrentIndex(std::clamp(p.FrameRateActual, 1, 3) - 1);
    input_->setCurrentIndex(std::clamp(p.FrameRateInput, 1, 3) - 1);
    connect(target_, &QComboBox::currentIndexChanged, this, [this] { FillRateLists(); });
    rateForm->addRow(QStringLiteral("Target Frame Rate:"), target_);
    rateForm->addRow(QStringLiteral("Actual Frame Rate:"), actual_);
    rateForm->addRow(QStringLiteral("Input Frame Rate:"), input_);
    grid->addWidget(rate, 2, 0);

    auto* bitrate = new QGroupBox(QStringLiteral("Bitrate"), page);
    auto* bitrateForm = new QFormLayout(bitrate);
    bitrateForm->addRow(QStringLiteral("Target Bitrate (bps):"),
                        Number(bitrate, "bitrate", p.Bitrate, 14400, 10000000, kCoder));
    rateControl_ = new QComboBox(bitrate);
    rateControl_->setObjectName(QStringLiteral("rateControl"));
    rateControl_->addItems({QStringLiteral("NO CTRL"), QStringLiteral("OFFLINE")});
    rateControl_->setCurrentIndex(p.RateControl >= 0 && p.RateControl < 2 ? p.RateControl : -1);
    bitrateForm->addRow(QStringLiteral("Bitrate Control:"), rateControl_);
    grid->addWidget(bitrate, 2, 1);

    auto* misc = new QGroupBox(QStringLiteral("Misc"), page);
    auto* miscForm = new QFormLayout(misc);
    miscForm->addRow(QStringLiteral("Search Window:"),
                     Number(misc, "searchWindow", p.SearchWindow, 0, 15, kCoder, 0, 15));
    QWidget* sync = Number(misc, "syncInsertPeriod", p.SyncInsertPeriod, 0, 100, kCoder, 0, 100);
    sync->setVisible(false);
    gob_ = new QCheckBox(QStringLiteral("GOB Headers:"), misc);
    gob_->setObjectName(QStringLiteral("gobHeaders"));
    gob_->setLayoutDirection(Qt::RightToLeft);  // text on the left
    gob_->setChecked(p.GOBMode != 0);
    miscForm->addRow(gob_);
    threads_ = new QSpinBox(misc);
    threads_->setObjectName(QStringLiteral("threads"));
    threads_->setRange(0, 64);
    threads_->setSpecialValueText(QStringLiteral("One per core"));
    threads_->setValue(std::clamp(p.Threads, 0, 64));
    threads_->setToolTip(
        QStringLiteral("Threads that encode each picture's macroblock rows (0: one per processor core). "
                       "Every count gives the same bitstream. Above one, a decode writes its pictures "
                       "on a thread of their own."));
    miscForm->addRow(QStringLiteral("Threads:"), threads_);
    grid->addWidget(misc, 3, 0);

    auto* speed = new QGroupBox(QStringLiteral("Encoding Speed"), page);
    auto* speedRow = new QHBoxLayout(speed);
    speed_ = new QSlider(Qt::Horizontal, speed);
    speed_->setObjectName(QStringLiteral("speed"));
    speed_->setRange(1, 5);
    speed_->setValue(std::clamp(p.Speed, 1, 5));
    speed_->setTickPosition(QSlider::TicksBelow);
    speedRow->addWidget(new QLabel(QStringLiteral("Normal"), speed));
    speedRow->addWidget(speed_, 1);
    speedRow->addWidget(new QLabel(QStringLiteral("Fast"), speed));
    grid->addWidget(speed, 3, 1);
    return page;
}

QWidget* SettingsSheet::BuildAdvanced() {
    const r263avo::EncoderParams& p = original_.coder;
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* bGroup = new QGroupBox(QStringLiteral("B-Frames:"), page);
    auto* bForm = new QFormLayout(bGroup);
    useB_ = Check(bGroup, "useBFrames", QStringLiteral("Use B-Frames"), p.UseTrueBPictures != 0);
    bForm->addRow(useB_);
    bForm->addRow(QStringLiteral("B-Frames Number:"), Number(bGroup, "bFrames", p.BPictures, 1, 5, kAdvanced, 1, 5));
    bForm->addRow(QStringLiteral("B-Frame Quantizer:"),
                  Number(bGroup, "bQuantizer", p.BQuantizer, 1, 31, kAdvanced, 1, 31));
    bForm->addRow(QStringLiteral("Enh. Layer Quantizer:"),
                  Number(bGroup, "enhLayerQuantizer", p.EnhLayerQuantizer, 1, 31, kAdvanced, 1, 31));
    layout->addWidget(bGroup);
    advIntra_ = Check(page, "useAdvIntraCoding", QStringLiteral("Use Advanced Intra Coding"), p.UseAdvIntraCoding != 0);
    modQuant_ = Check(page, "useModifiedQuant", QStringLiteral("Use Modified Quantization"), p.UseModifiedQuant != 0);
    deblock_ = Check(page, "useDeblockFilter", QStringLiteral("Use Deblocking Filter"), p.UseDeblockFilter != 0);
    layout->addWidget(advIntra_);
    layout->addWidget(modQuant_);
    layout->addWidget(deblock_);
    auto* sliceGroup = new QGroupBox(QStringLiteral("Slice Mode:"), page);
    auto* sliceForm = new QFormLayout(sliceGroup);
    slices_ = Check(sliceGroup, "useSliceMode", QStringLiteral("Use Slice Mode"), p.UseSliceMode != 0);
    sliceForm->addRow(slices_);
    sliceForm->addRow(QStringLiteral("MBlocks Per Slice:"),
                      Number(sliceGroup, "mblocksPerSlice", p.MBlocksPerSlice, 0, 10000, kAdvanced, 1, 9216));
    layout->addWidget(sliceGroup);
    layout->addStretch(1);
    connect(useB_, &QCheckBox::toggled, this, &SettingsSheet::UpdateEnabling);
    connect(slices_, &QCheckBox::toggled, this, &SettingsSheet::UpdateEnabling);
    return page;
}

void SettingsSheet::FillRateLists() {
    const float target = target_->currentIndex() == 0 ? 25.0f : 30.0f;
    for (QComboBox* list : {actual_, input_}) {
        const int kept = list->currentIndex();
        list->clear();
        for (const std::string& item : FrameRateListItems(target)) list->addItem(QString::fromStdString(item));
        list->setCurrentIndex(kept);
    }
}

void SettingsSheet::UpdateEnabling() {
    const bool b = useB_->isChecked();
    for (const char* name : {"bFrames", "bQuantizer", "enhLayerQuantizer"}) Edit(name)->parentWidget()->setEnabled(b);
    Edit("mblocksPerSlice")->parentWidget()->setEnabled(slices_->isChecked());
}

void SettingsSheet::Refuse(QLineEdit* edit, const std::string& message) {
    prompts_.Warning(this, QString::fromStdString(message));
    edit->setFocus();
    edit->selectAll();
}

bool SettingsSheet::LeavePage(int page) {
    for (const NumberField& f : numbers_) {
        if (f.page != page || !f.checked) continue;
        int value = 0;
        if (!ParseFieldNumber(f.edit->text().toStdString(), f.minimum, f.maximum, &value)) {
            Refuse(f.edit, RangeMessage(f.minimum, f.maximum));
            return false;
        }
    }
    if (page == kCoder) {
        const PageCheck check = CheckFrameRange(Value("startFrame"), Value("endFrame"), original_.coder.FrameCount);
        if (!check.ok) {
            Refuse(Edit(check.field == Field::kStart ? "startFrame" : "endFrame"), check.message);
            return false;
        }
    } else if (page == kAdvanced) {
        const PageCheck check = CheckSliceSize(Value("mblocksPerSlice"), original_.coder.Width, original_.coder.Height);
        if (!check.ok) {
            Refuse(Edit("mblocksPerSlice"), check.message);
            return false;
        }
    }
    return true;
}

void SettingsSheet::accept() {
    // The active page first, then every other page that was shown.
    const int active = tabs_->currentIndex();
    if (!LeavePage(active)) return;
    for (int page = 0; page < 3; ++page) {
        if (page == active || !visited_[static_cast<size_t>(page)]) continue;
        if (!LeavePage(page)) {
            switching_ = true;
            tabs_->setCurrentIndex(page);
            currentPage_ = page;
            switching_ = false;
            return;
        }
    }
    Collect();
    QDialog::accept();
}

void SettingsSheet::Collect() {
    edited_ = original_;
    GeneralSettings& g = edited_.general;
    g.LogInfoCoder = showLog_->isChecked() ? 1 : 0;
    g.ShowSNR = showSnr_->isChecked() ? 1 : 0;
    g.ShowProgress = showProgress_->isChecked() ? 1 : 0;
    g.StartupFile = startupFile_->text().toStdString();
    g.DefaultOutputFile = defaultOutput_->text().toStdString();
    g.DeleteDecodedFile = deleteDecoded_->isChecked() ? 1 : 0;
    g.UseErrorConceal = errorConceal_->isChecked() ? 1 : 0;

    r263avo::EncoderParams& p = edited_.coder;
    if (visited_[kCoder]) {
        p.StartFrame = Value("startFrame");
        p.EndFrame = Value("endFrame");
        p.IQuantizer = Value("iQuantizer");
        p.IFramePeriod = Value("iFramePeriod");
        p.IntraMBRefreshPeriod = Value("mbRefresh");
        p.PQuantizer = Value("pQuantizer");
        p.Bitrate = Value("bitrate");
        p.SearchWindow = Value("searchWindow");
        p.SyncInsertPeriod = Value("syncInsertPeriod");
    }
    if (target_->currentIndex() >= 0) p.FrameRateTarget = target_->currentIndex() == 0 ? 25.0f : 30.0f;
    if (actual_->currentIndex() >= 0) p.FrameRateActual = actual_->currentIndex() + 1;
    if (input_->currentIndex() >= 0) p.FrameRateInput = input_->currentIndex() + 1;
    if (rateControl_->currentIndex() >= 0) p.RateControl = rateControl_->currentIndex();
    p.Speed = speed_->value();
    p.GOBMode = gob_->isChecked() ? 1 : 0;
    p.Threads = threads_->value();

    p.UseTrueBPictures = useB_->isChecked() ? 1 : 0;
    if (visited_[kAdvanced]) {
        p.BPictures = Value("bFrames");
        p.BQuantizer = Value("bQuantizer");
        p.EnhLayerQuantizer = Value("enhLayerQuantizer");
        p.MBlocksPerSlice = Value("mblocksPerSlice");
    }
    p.UseAdvIntraCoding = advIntra_->isChecked() ? 1 : 0;
    p.UseModifiedQuant = modQuant_->isChecked() ? 1 : 0;
    p.UseDeblockFilter = deblock_->isChecked() ? 1 : 0;
    p.UseSliceMode = slices_->isChecked() ? 1 : 0;
    p.ComputeSnr = g.ShowSNR > 0 ? 1 : 0;
}

}  // namespace tessaro::shell
