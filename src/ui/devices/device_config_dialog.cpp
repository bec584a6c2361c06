#include "ui/devices/device_config_dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QThread>
#include <algorithm>

#include "backends/serial/com_probe.h"
#include "devices/catalogue.h"
#include "platform/profile.h"
#include "platform/program_path.h"
#include "state/run_state.h"
#include "state/slot_settings.h"
#include "ui/station/batch_mode.h"
#include "ui/station/display_painter.h"

namespace karvelo::devices {
namespace {

// The dialog's layout is given in dialog units of an 8-point dialog font:
// a horizontal unit is a quarter of its average character width (6 pixels),
// a vertical one an eighth of its height (13 pixels).
constexpr int kDluX4 = 6;
constexpr int kDluY8 = 13;
// A drop-down list's closed height; its rectangle's height includes the list.
constexpr int kListHeightDlu = 14;
constexpr int kProbePollMs = 20;

QString Q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString Q(const std::wstring& text) {
    return QString::fromStdWString(text);
}

struct Label {
    const char* text;
    int x, y, width, height;
};

constexpr Label kLabels[] = {
    {"device type:", 4, 10, 52, 8},  {"request:", 4, 27, 52, 8},   {"port:", 143, 10, 52, 8},
    {"serial no.:", 251, 10, 52, 8}, {"channel:", 391, 10, 28, 8}, {"parameter:", 365, 28, 54, 8},
    {"decimals:", 4, 46, 52, 8},     {"title:", 141, 47, 52, 8},   {"factor/offset:", 0, 65, 55, 8},
};

}  // namespace

DeviceConfigDialog::DeviceConfigDialog(DeviceConfigSources sources, QWidget* parent)
    : QDialog(parent), sources_(std::move(sources)) {
    setWindowTitle(QStringLiteral("DEVICE CONFIGURATION"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(Dlu(0, 0, 469, 144).size());
    app::LoadSharedLogo();
    CreateControls();
    probeTimer_.setInterval(kProbePollMs);
    connect(&probeTimer_, &QTimer::timeout, this, [this] { TakeProbeResults(); });
}

DeviceConfigDialog::~DeviceConfigDialog() = default;

QRect DeviceConfigDialog::Dlu(int x, int y, int width, int height) const {
    return QRect(x * kDluX4 / 4, y * kDluY8 / 8, width * kDluX4 / 4, height * kDluY8 / 8);
}

void DeviceConfigDialog::CreateControls() {
    for (const Label& l : kLabels) {
        auto* label = new QLabel(QString::fromUtf8(l.text), this);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // Room above and below: the units' rectangle is exactly one text line.
        QRect r = Dlu(l.x, l.y - 2, l.width, l.height + 4);
        // The units assume the narrow Windows dialog font: a label that does
        // not fit grows to the left, where its right-aligned text has room,
        // rather than being cut or set in a smaller font.
        const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 2;
        if (needed > r.width()) r.setLeft(std::max(0, r.right() + 1 - needed));
        label->setGeometry(r);
    }
    const auto list = [this](int id, int x, int y, int width) {
        auto* box = new QComboBox(this);
        box->setGeometry(Dlu(x, y, width, kListHeightDlu));
        box->setObjectName(QStringLiteral("control%1").arg(id));
        controls_[id] = box;
        return box;
    };
    const auto edit = [this](int id, int x, int y, int width, int height) {
        auto* field = new QLineEdit(this);
        field->setGeometry(Dlu(x, y, width, height));
        field->setObjectName(QStringLiteral("control%1").arg(id));
        controls_[id] = field;
        return field;
    };
    const auto button = [this](int id, const QString& text, QRect r) {
        auto* b = new QPushButton(text, this);
        b->setGeometry(r);
        b->setAutoDefault(false);
        b->setObjectName(QStringLiteral("control%1").arg(id));
        controls_[id] = b;
        return b;
    };

    types_ = list(kDevTypeList, 60, 8, 80);
    for (const DeviceType& t : DeviceTypes()) types_->addItem(Q(t.name));
    types_->setMaxVisibleItems(20);
    requests_ = list(kDevRequestList, 60, 26, 80);
    for (int i = 0; i < kSendModeCount; ++i) requests_->addItem(Q(SendModeEntryName(i)));
    textSources_ = list(kDevTextSourceList, 60, 26, 80);
    for (int i = 0; i < kTextSourceCount; ++i) textSources_->addItem(Q(TextSourceEntryName(i)));
    ports_ = list(kDevPortList, 198, 8, 49);
    ports_->setMaxVisibleItems(20);
    serials_ = list(kDevSerialField, 306, 8, 84);
    serials_->setEditable(true);
    serials_->setInsertPolicy(QComboBox::NoInsert);
    channels_ = list(kDevChannelList, 422, 8, 41);
    for (int i = 0; i < kChannelEntryCount; ++i) channels_->addItem(Q(ChannelEntryName(i)));
    parameters_ = list(kDevParameterList, 422, 27, 41);
    for (int i = 0; i < kParameterEntryCount; ++i) parameters_->addItem(Q(ParameterEntryName(i)));

    sendTime_ = edit(kDevSendTimeField, 154, 25, 30, 14);
    textFile_ = edit(kDevTextFileField, 142, 25, 200, 14);
    browse_ = button(kDevBrowseButton, QStringLiteral(">>"), Dlu(343, 25, 20, 14));
    decimals_ = edit(kDevDecimalsField, 60, 44, 18, 14);
    busSetup_ = button(kDevBusSetupButton, QStringLiteral("IBRIT>>"), Dlu(84, 43, 58, 15));
    title_ = edit(kDevTitleField, 198, 44, 107, 14);
    factor_ = edit(kDevFactorField, 60, 63, 41, 14);
    offset_ = edit(kDevOffsetField, 105, 63, 41, 14);

    // Only its rectangle is used: the logo is painted there.
    logo_ = new QWidget(this);
    logo_->setGeometry(Dlu(7, 81, 76, 55));
    logo_->hide();
    controls_[kDevLogo] = logo_;

    ok_ = button(kDevOk, QStringLiteral("OK"), Dlu(330, 108, 133, 28));
    ok_->setDefault(true);
    ok_->setAutoDefault(true);

    connect(types_, &QComboBox::activated, this, [this](int) { OnTypeChanged(); });
    connect(ports_, &QComboBox::activated, this, [this](int index) { OnPortChanged(index); });
    connect(ports_, &QComboBox::currentIndexChanged, this, [this](int index) {
        // Which device the chosen entry is, also while the list is closed.
        ports_->setToolTip(index >= 0 ? ports_->itemData(index, Qt::ToolTipRole).toString()
                                      : QString());
    });
    connect(requests_, &QComboBox::activated, this, [this](int index) { OnRequestChanged(index); });
    connect(textSources_, &QComboBox::activated, this,
            [this](int index) { OnTextSourceChanged(index); });
    connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
    connect(busSetup_, &QPushButton::clicked, this, [this] { BusSetup(); });
    connect(ok_, &QPushButton::clicked, this, [this] { accept(); });
}

QWidget* DeviceConfigDialog::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

std::string DeviceConfigDialog::ActiveFile() const {
    return platform::FsPath(g_run.ActiveConfigFile.str());
}

void DeviceConfigDialog::Open(int slot) {
    slot_ = std::clamp(slot, 1, kMaxSlots);
    const OpenedSlot o = OpenSlotSection(platform::ProfileDocument::Load(ActiveFile()), slot_);
    const auto select = [](QComboBox* box, int index) {
        box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
    };
    select(types_, o.type);
    rememberedPort_ = o.port;
    rememberedSerial_ = o.serial;
    serials_->setEditText(Q(o.serial));
    select(channels_, o.channel);
    select(parameters_, o.parameter);
    select(requests_, o.sendMode);
    select(textSources_, o.textSource);
    g_run.TextFile[slot_] = o.textFile;
    textFile_->setText(Q(o.textFile));
    sendTime_->setText(Q(o.sendTime));
    sendTime_->setVisible(ShowsSendTime(o.sendMode));
    decimals_->setText(Q(o.decimals));
    factor_->setText(Q(o.factor));
    offset_->setText(Q(o.offset));
    title_->setText(Q(o.title));
    OnTypeChanged();
}

int DeviceConfigDialog::Run(int slot) {
    Open(slot);
    const int result = exec();
    // A probe still running has nothing more to tell.
    probeTimer_.stop();
    probe_.reset();
    return result;
}

void DeviceConfigDialog::OnTypeChanged() {
    for (int id : TypeStepControls()) control(id)->hide();
    const int code = types_->currentIndex();
    const TypeForm form = FormForType(code);
    for (int id : form.shown) control(id)->show();
    const bool file = ShowsTextFile(form, textSources_->currentIndex());
    textFile_->setVisible(file);
    browse_->setVisible(file);
    FillPorts(form.ports);
    FillSerials(form.serial);
    if (form.channelForced) channels_->setCurrentIndex(1);
}

void DeviceConfigDialog::FillPorts(PortFill fill) {
    probeTimer_.stop();
    probe_.reset();
    ports_->clear();
    switch (fill) {
        case PortFill::Empty:
            break;
        case PortFill::ComProbe: {
            ports_->addItem(QStringLiteral("-"));
            // Entry n stands for COM n from the start; the probe names the
            // ports it can open as its results come in.
            for (int com = 1; com <= kComPortCount; ++com) ports_->addItem(QString());
            probe_ = std::make_unique<serial::ComProbe>(g_run.MainConfigFile.str());
            probeTimer_.start();
            ports_->setCurrentIndex(
                rememberedPort_ >= 0 && rememberedPort_ < ports_->count() ? rememberedPort_ : -1);
            break;
        }
        case PortFill::Usb:
            ports_->addItem(QStringLiteral("USB"));
            ports_->setCurrentIndex(0);
            break;
        case PortFill::Pci:
            ports_->addItem(QStringLiteral("PCI"));
            ports_->setCurrentIndex(0);
            break;
    }
}

void DeviceConfigDialog::TakeProbeResults() {
    if (!probe_) return;
    const bool finished = probe_->finished();
    for (const serial::ComProbe::Entry& e : probe_->Take()) {
        if (e.available) ports_->setItemText(e.com, Q(ComEntryText(e.com)));
        ports_->setItemData(e.com, Q(serial::ComPortTip(e.description)), Qt::ToolTipRole);
        if (e.com == ports_->currentIndex()) {
            ports_->setToolTip(ports_->itemData(e.com, Qt::ToolTipRole).toString());
        }
    }
    if (finished) {
        probeTimer_.stop();
        probe_.reset();
    }
}

bool DeviceConfigDialog::FinishPortProbe(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (probe_ && clock.elapsed() < timeoutMs) {
        TakeProbeResults();
        if (!probe_) break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, kProbePollMs);
        QThread::msleep(2);
    }
    return !probe_;
}

void DeviceConfigDialog::FillSerials(SerialFill fill) {
    serials_->clear();
    const int code = types_->currentIndex();
    const auto fillList = [this](const std::vector<std::wstring>& found) {
        const std::vector<std::wstring> entries = SerialListEntries(found);
        for (const std::wstring& e : entries) serials_->addItem(Q(e));
        serials_->setCurrentIndex(SerialListSelection(entries, rememberedSerial_));
    };
    switch (fill) {
        case SerialFill::Cleared:
            serials_->setEditText(QString());
            break;
        case SerialFill::FtdiList:
            fillList(sources_.ftdiSerials ? sources_.ftdiSerials(DeviceTypeOf(code))
                                          : std::vector<std::wstring>{});
            break;
        case SerialFill::CardList: {
            std::vector<std::wstring> axes;
            if (sources_.cardAxes) axes = sources_.cardAxes(DeviceTypeOf(code));
            if (axes.empty() && sources_.errorBox) {
                sources_.errorBox(L"KARVELO", L"No IK220 found");
            }
            fillList(axes);
            break;
        }
        case SerialFill::FreeText:
        case SerialFill::KeptHidden:
            serials_->setEditText(Q(rememberedSerial_));
            break;
    }
}

void DeviceConfigDialog::OnPortChanged(int index) {
    rememberedPort_ = index;
}

void DeviceConfigDialog::OnRequestChanged(int index) {
    const std::wstring confirmed = ConfirmSendTime(sendTime_->text().toStdWString());
    sendTime_->setText(Q(confirmed));
    const std::string path = ActiveFile();
    platform::ProfileDocument doc = platform::ProfileDocument::Load(path);
    WriteRequestChoice(doc, slot_, index, confirmed);
    sources_.saveSettings(doc, path);
    sendTime_->setVisible(ShowsSendTime(index));
}

void DeviceConfigDialog::OnTextSourceChanged(int index) {
    const std::string path = ActiveFile();
    platform::ProfileDocument doc = platform::ProfileDocument::Load(path);
    WriteTextSourceChoice(doc, slot_, index);
    sources_.saveSettings(doc, path);
    textFile_->setVisible(index != 0);
    browse_->setVisible(index != 0);
}

void DeviceConfigDialog::Browse() {
    const auto file =
        app::ChooseExistingCsvFile(this, QString::fromStdWString(g_run.TextPath[slot_].str()));
    if (!file) return;
    const QFileInfo info(*file);
    QString folder = info.absolutePath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    g_run.TextPath[slot_] = folder.toStdWString();
    g_run.TextFile[slot_] = info.fileName().toStdWString();
    textFile_->setText(info.fileName());
}

void DeviceConfigDialog::BusSetup() {
    if (sources_.busSetup) sources_.busSetup(static_cast<std::uintptr_t>(winId()));
}

void DeviceConfigDialog::accept() {
    // The port text is the probe's: let it finish first (it takes well under
    // this unless a device hangs, whose entry then stays empty).
    FinishPortProbe(3000);
    probeTimer_.stop();
    probe_.reset();

    DialogValues v;
    v.type = types_->currentIndex();
    v.typeText = types_->currentText().toStdWString();
    v.port = ports_->currentIndex();
    v.portText = ports_->currentText().toStdWString();
    v.serial = serials_->currentText().toStdWString();
    v.channel = channels_->currentIndex();
    v.parameter = parameters_->currentIndex();
    v.textSource = textSources_->currentIndex();
    v.textPath = g_run.TextPath[slot_].str();
    v.textFile = textFile_->text().toStdWString();
    v.sendMode = requests_->currentIndex();
    v.sendTime = sendTime_->text().toStdWString();
    v.format = decimals_->text().toStdWString();
    v.factor = factor_->text().toStdWString();
    v.offset = offset_->text().toStdWString();
    v.title = title_->text().toStdWString();
    const SlotKeyTexts texts = OkKeyTexts(v);
    g_run.TextFile[slot_] = texts[static_cast<std::size_t>(SlotKey::TextFile)];

    const std::string path = ActiveFile();
    platform::ProfileDocument doc = platform::ProfileDocument::Load(path);
    WriteSlotKeyTexts(doc, slot_, texts);
    sources_.saveSettings(doc, path);
    QDialog::accept();
}

void DeviceConfigDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    app::PaintSharedLogo(painter, logo_->geometry());
}

}  // namespace karvelo::devices
