// Config -> Configuration...: "Oxel Configuration (SVN: 1437)..." — choose a
// configuration file of a directory, or set up the serial, telnet or PuTTY
// backend; OK loads the file or applies the backend.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <string>

#include "app/oxel.h"
#include "backend/backend.h"
#include "backend/comport.h"
#include "config/configfile.h"
#include "config/configrecord.h"
#include "platform/qt/qt_ui.h"
#include "platform/ui.h"

namespace {

constexpr int kBuild = 1437;
constexpr int kMaxFiles = 256;
const int kRates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 128000, 230400, 256000, 460800, 921600};

// The current configuration path when it is a directory (a directory named
// at start lands in LAST_CFG_FILE), else the program's config directory.
QString ConfigDirectory() {
    for (const std::string& path : {ConfigCurrentPath(), std::string(g_cfg.LAST_CFG_FILE)}) {
        QFileInfo fi(QString::fromStdString(path));
        if (!path.empty() && fi.isDir()) return fi.absoluteFilePath();
    }
    return QString::fromStdString(InstallDir() + "/config");
}

void FillFiles(QListWidget* list, const QString& dir) {
    list->clear();
    QStringList names = QDir(dir).entryList({"*.ct"}, QDir::Files, QDir::Name);
    for (int i = 0; i < names.size() && i < kMaxFiles; ++i) {
        QString shown = names[i];
        shown.chop(3);
        auto* item = new QListWidgetItem(shown, list);
        item->setData(Qt::UserRole, QDir(dir).filePath(names[i]));
    }
}

int LoadChosen(const QString& path) {
    const std::string p = path.toStdString();
    if (!ConfigLoad(p.c_str())) return 0;
    CFG_SET_STRING(g_cfg.LAST_CFG_FILE, ConfigCurrentPath().c_str());
    ui().StatusRefresh();
    ui().Relayout();
    return 1;
}

bool RunConfig(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle(QString("Oxel Configuration (SVN: %1)...").arg(kBuild));
    auto* outer = new QVBoxLayout(&dlg);

    // Choices.
    auto* choice = new QButtonGroup(&dlg);
    auto* serial = new QRadioButton("Serial", &dlg);
    auto* telnet = new QRadioButton("Telnet", &dlg);
    auto* putty = new QRadioButton("PuTTY", &dlg);
    auto* directory = new QRadioButton("Directory", &dlg);
    choice->addButton(serial, 1);
    choice->addButton(telnet, 2);
    choice->addButton(putty, 4);
    choice->addButton(directory, 0);
    auto* choices = new QHBoxLayout;
    for (QRadioButton* r : {serial, telnet, putty, directory}) choices->addWidget(r);
    choices->addStretch(1);
    outer->addLayout(choices);
    (g_cfg.BACKEND == 2 ? telnet : g_cfg.BACKEND == 4 ? putty : serial)->setChecked(true);

    // Files part.
    auto* files = new QGroupBox("Configuration files", &dlg);
    auto* fl = new QVBoxLayout(files);
    const QString dir = ConfigDirectory();
    auto* dirLabel = new QLabel(dir, files);
    dirLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    fl->addWidget(dirLabel);
    auto* list = new QListWidget(files);
    FillFiles(list, dir);
    fl->addWidget(list);
    auto* browse = new QPushButton("Browse", files);
    fl->addWidget(browse, 0, Qt::AlignRight);

    // Serial part.
    auto* ser = new QGroupBox("Serial", &dlg);
    auto* sg = new QFormLayout(ser);
    auto* port = new QComboBox(ser);
    port->setToolTip("The serial port, or the loop-back and test ports");
    auto fillPorts = [port] {
        port->clear();
        for (const std::string& entry : ComPortList()) {
            const int n = ComPortFromEntry(entry);
            if (n >= 0) port->addItem(QString::fromStdString(entry), n);
        }
        const int at = port->findData(static_cast<int>(g_cfg.COMPORT));
        port->setCurrentIndex(std::max(0, at));
    };
    fillPorts();
    auto* scan = new QPushButton("PortScan", ser);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(port, 1);
    portRow->addWidget(scan);
    sg->addRow("Port:", portRow);
    auto* rate = new QComboBox(ser);
    rate->setEditable(true);
    for (int r : kRates) rate->addItem(QString::number(r));
    rate->setCurrentText(QString::number(g_cfg.BAUDRATE));
    sg->addRow("Rate:", rate);
    auto* bits = new QComboBox(ser);
    bits->addItems({"5", "6", "7", "8"});
    bits->setCurrentText(QString::number(g_cfg.BYTESIZE));
    sg->addRow("Data bits:", bits);
    auto* parity = new QComboBox(ser);
    const struct { const char* name; int value; } parities[] = {{"None", 0}, {"Even", 2}, {"Odd", 1}, {"Mark", 3}, {"Space", 4}};
    for (const auto& p : parities) parity->addItem(p.name, p.value);
    parity->setCurrentIndex(std::max(0, parity->findData(static_cast<int>(g_cfg.PARITY))));
    sg->addRow("Parity:", parity);
    auto* stop = new QComboBox(ser);
    stop->addItems({"1", "1.5", "2"});
    stop->setCurrentIndex(std::min<int>(g_cfg.STOPBITS, 2));
    sg->addRow("Stop bits:", stop);
    auto* dtrdsr = new QCheckBox("DTR/DSR", ser);
    auto* rtscts = new QCheckBox("RTS/CTS", ser);
    auto* xon = new QCheckBox("XON/XOFF", ser);
    auto* dtrset = new QCheckBox("DTRSET", ser);
    auto* rtsset = new QCheckBox("RTSSET", ser);
    dtrdsr->setChecked(g_cfg.FLOWCTRL & 0x01);
    rtscts->setChecked(g_cfg.FLOWCTRL & 0x02);
    xon->setChecked(g_cfg.FLOWCTRL & 0x04);
    dtrset->setChecked(g_cfg.FLOWCTRL & 0x08);
    rtsset->setChecked(g_cfg.FLOWCTRL & 0x10);
    auto exclude = [](QCheckBox* a, QCheckBox* b) {
        QObject::connect(a, &QCheckBox::toggled, b, [b](bool on) { b->setEnabled(!on); });
        QObject::connect(b, &QCheckBox::toggled, a, [a](bool on) { a->setEnabled(!on); });
        b->setEnabled(!a->isChecked());
        a->setEnabled(!b->isChecked());
    };
    exclude(dtrdsr, dtrset);
    exclude(rtscts, rtsset);
    auto* flow = new QGridLayout;
    flow->addWidget(dtrdsr, 0, 0);
    flow->addWidget(rtscts, 0, 1);
    flow->addWidget(xon, 0, 2);
    flow->addWidget(dtrset, 1, 0);
    flow->addWidget(rtsset, 1, 1);
    sg->addRow("Flow:", flow);
    auto* altOn = new QCheckBox("Enabled", ser);
    auto* alt = new QLineEdit(g_cfg.COMPORTALT ? QString::number(g_cfg.COMPORTALT) : QString(), ser);
    auto* pass = new QCheckBox("Passthrough", ser);
    altOn->setChecked(g_cfg.COMPORTALT != 0);
    pass->setChecked(g_cfg.COMPORT_PASSTHROUGH != 0);
    alt->setEnabled(altOn->isChecked());
    pass->setEnabled(altOn->isChecked());
    QObject::connect(altOn, &QCheckBox::toggled, &dlg, [alt, pass](bool on) {
        alt->setEnabled(on);
        pass->setEnabled(on);
    });
    QObject::connect(pass, &QCheckBox::toggled, &dlg, [serial](bool on) {
        g_cfg.COMPORT_PASSTHROUGH = on ? 1 : 0;
        serial->setChecked(true);
    });
    auto* altRow = new QHBoxLayout;
    altRow->addWidget(altOn);
    altRow->addWidget(alt, 1);
    altRow->addWidget(pass);
    sg->addRow("Alternate port:", altRow);

    // Telnet and PuTTY parts.
    auto* net = new QGroupBox("Telnet / PuTTY", &dlg);
    auto* ng = new QFormLayout(net);
    auto* sysname = new QLineEdit(QString::fromUtf8(g_cfg.BACKENT_TELNET_SYS), net);
    sysname->setMaxLength(64);
    ng->addRow("Sysname:", sysname);
    auto* tport = new QSpinBox(net);
    tport->setRange(0, 65535);
    tport->setValue(g_cfg.BACKEND_TELNET_PORT);
    ng->addRow("Port:", tport);
    auto* restart = new QCheckBox("AutoRestart", net);
    restart->setChecked(g_cfg.BACKEND_TELNET_AUTORESTART != 0);
    ng->addRow("", restart);
    auto* plink = new QLineEdit(QString::fromUtf8(g_cfg.BACKENT_PLINK_ARGS), net);
    plink->setMaxLength(64);
    ng->addRow("Plink args:", plink);

    auto* middle = new QHBoxLayout;
    middle->addWidget(files, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(ser);
    right->addWidget(net);
    middle->addLayout(right, 2);
    outer->addLayout(middle);
    auto* bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    outer->addWidget(bb);

    QString chosenFile;
    QObject::connect(list, &QListWidget::itemClicked, &dlg, [directory] { directory->setChecked(true); });
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dlg, [&](QListWidgetItem*) {
        directory->setChecked(true);
        bb->button(QDialogButtonBox::Ok)->click();
    });
    QObject::connect(scan, &QPushButton::clicked, &dlg, [fillPorts] {
        ComRequestRescan();
        fillPorts();
    });
    QObject::connect(browse, &QPushButton::clicked, &dlg, [&] {
        directory->setChecked(true);
        QString f = QFileDialog::getOpenFileName(&dlg, "Oxel Config Files:", dir, "Oxel Config Files (*.CT *.ct)");
        if (f.isEmpty()) return;
        chosenFile = f;
        dlg.accept();
    });
    QObject::connect(bb, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    QObject::connect(bb, &QDialogButtonBox::accepted, &dlg, [&] {
        const int kind = choice->checkedId();
        if (kind == 0) {
            if (list->currentItem()) chosenFile = list->currentItem()->data(Qt::UserRole).toString();
            dlg.accept();
            return;
        }
        if (kind == 2 && sysname->text().trimmed().isEmpty()) {
            QMessageBox::warning(&dlg, "Telnet Backend", "System name must be specified");
            return;
        }
        if (kind == 2 && tport->value() == 0) {
            QMessageBox::warning(&dlg, "Telnet Backend", "Invalid port number");
            return;
        }
        if (kind == 4 && plink->text().trimmed().isEmpty()) {
            QMessageBox::warning(&dlg, "PuTTY Link Backend", "Plink args must be specified");
            return;
        }
        dlg.accept();
    });
    if (dlg.exec() != QDialog::Accepted) return false;

    if (choice->checkedId() == 0 || !chosenFile.isEmpty()) {
        if (!chosenFile.isEmpty()) LoadChosen(chosenFile);
        return true;
    }
    // A change of backend or port closes the old connection with its own settings.
    const int newBackend = choice->checkedId() == 2 ? 2 : choice->checkedId() == 4 ? 4 : 1;
    const int newPort = port->currentIndex() >= 0 ? port->currentData().toInt() : g_cfg.COMPORT;
    const bool wasUp = BackendConnected();
    const bool change = newBackend != g_cfg.BACKEND || newPort != g_cfg.COMPORT;
    if (wasUp && change) CloseConnection();
    g_cfg.COMPORT = newPort;
    const int r = rate->currentText().toInt();
    if (r > 0) g_cfg.BAUDRATE = r;
    g_cfg.BYTESIZE = static_cast<uint8_t>(bits->currentText().toInt());
    g_cfg.PARITY = static_cast<uint8_t>(parity->currentData().toInt());
    g_cfg.STOPBITS = static_cast<uint8_t>(stop->currentIndex());
    uint8_t fc = 0;
    if (dtrdsr->isChecked()) fc |= 0x01;
    if (rtscts->isChecked()) fc |= 0x02;
    if (xon->isChecked()) fc |= 0x04;
    if (dtrset->isChecked()) fc |= 0x08;
    if (rtsset->isChecked()) fc |= 0x10;
    g_cfg.FLOWCTRL = fc;
    g_cfg.DTR_STATE = dtrset->isChecked() ? 1 : 0;
    g_cfg.RTS_STATE = rtsset->isChecked() ? 1 : 0;
    g_cfg.BACKEND = newBackend;
    g_cfg.COMPORTALT = altOn->isChecked() ? alt->text().toInt() : 0;
    if (g_cfg.BACKEND == 2) {
        CFG_SET_STRING(g_cfg.BACKENT_TELNET_SYS, sysname->text().trimmed().toStdString().c_str());
        g_cfg.BACKEND_TELNET_PORT = static_cast<uint16_t>(tport->value());
        g_cfg.BACKEND_TELNET_AUTORESTART = restart->isChecked() ? 1 : 0;
    } else if (g_cfg.BACKEND == 4) {
        CFG_SET_STRING(g_cfg.BACKENT_PLINK_ARGS, plink->text().trimmed().toStdString().c_str());
    }
    ConfigSetSessionOnlyBackend(false);
    // A port that is open takes the new settings; another backend reconnects.
    if (wasUp) {
        const bool ok = change ? OpenConnection() != 0 : (g_cfg.BACKEND != 1 || ApplyCommSettings() != 0);
        if (!ok) QMessageBox::warning(parent, "Oxel Configuration", "Configuration failed!");
    }
    ui().StatusRefresh();
    return true;
}

void OpenConfig(QWidget* parent) { RunConfig(parent); }

}  // namespace

OXEL_DIALOG("Oxel Configuration", OpenConfig);
OXEL_MODAL_DIALOG("Oxel Configuration", RunConfig);
